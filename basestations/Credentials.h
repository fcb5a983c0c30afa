// The user name and plain-text password with which a base station's web API
// is reached.
#pragma once

#include <string>

namespace Keldra {

struct Credentials {
    std::string username;
    std::string password;

    friend bool operator==(const Credentials& a, const Credentials& b)
    {
        return a.username == b.username && a.password == b.password;
    }
    friend bool operator!=(const Credentials& a, const Credentials& b) { return !(a == b); }
};

}  // namespace Keldra
