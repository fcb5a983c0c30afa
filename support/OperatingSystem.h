// The process-wide token that marks that an application runtime exists. A
// second live instance is a fatal configuration error.
#pragma once

#include "UTF8Span.h"

namespace Oru {

class OperatingSystem {
public:
    // name must live for the whole process (a span over a literal).
    explicit OperatingSystem(UTF8Span name);
    ~OperatingSystem();
    OperatingSystem(const OperatingSystem&) = delete;
    OperatingSystem& operator=(const OperatingSystem&) = delete;

    UTF8Span GetName() const { return _name; }

private:
    UTF8Span _name;
};

}  // namespace Oru
