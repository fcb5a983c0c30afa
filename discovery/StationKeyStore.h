// The keys the base stations showed on first contact (trust on first use):
// the file stationkeys.json beside the credentials file, one entry per
// station ID with the trusted fingerprint and, after a station showed
// another key, that key until the user accepts it on the configuration page.
// The plug-in's worker thread and the product web service share the file;
// every change is a read and an atomic rewrite (mode 0600) under one lock.
// A read whose file has not changed since the last one (same inode, size and
// times) is served from memory.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/optional.hpp>
#include <rapidjson/document.h>

namespace Keldra {

class StationKeyStore {
public:
    static constexpr const char* FileName = "stationkeys.json";

    struct Entry {
        std::string stationId;
        std::string fingerprint;  // trusted
        std::string presented;    // shown instead of the trusted one; empty when none was
    };

    // The store in the directory of the credentials file.
    static StationKeyStore BesideCredentials(const boost::filesystem::path& credentialsFile);
    explicit StationKeyStore(boost::filesystem::path path) : _path(std::move(path)) {}

    // Empty when the file is missing; none when it exists but cannot be read
    // (logged): its entries are then neither used nor overwritten.
    boost::optional<std::vector<Entry>> Read() const;
    boost::optional<std::string> Trusted(const std::string& stationId) const;
    // On first contact only: a station that has a trusted key keeps it.
    void Remember(const std::string& stationId, const std::string& fingerprint) const;
    // Notes the other key a station with a trusted key presented.
    void RecordPresented(const std::string& stationId, const std::string& fingerprint) const;
    // Trusts the key the station presented instead, if it is `fingerprint`
    // (the one the user saw); false when it is not or cannot be stored.
    bool Accept(const std::string& stationId, const std::string& fingerprint) const;

    // The entries as the file holds them: {"stations": [{"stationId", "fingerprint"[, "presented"]}]}.
    static rapidjson::Document ToJson(const std::vector<Entry>& entries);

private:
    // Reads, lets `change` edit the entries (it returns whether anything
    // changed) and writes the file back; false when nothing was stored.
    template <typename Change>
    bool Update(const Change& change) const;
    // Read() with s_mutex held.
    boost::optional<std::vector<Entry>> ReadLocked() const;

    boost::filesystem::path _path;
    // One lock for every store of the process: the file is the shared state.
    static std::mutex s_mutex;
};

}  // namespace Keldra
