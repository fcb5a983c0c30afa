#pragma once
// RapidJSON for the end-to-end tests: reading a member that is missing or of
// another type throws (and fails the test) instead of aborting the program.
// Include this before any other RapidJSON header.
#include <stdexcept>

#ifndef RAPIDJSON_ASSERT
#define RAPIDJSON_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : throw std::logic_error("unexpected JSON: " #condition))
#endif
#include <rapidjson/document.h>
