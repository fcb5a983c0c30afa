#include "AtomicFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/host/OruLogging.h"

namespace Keldra {
namespace {

boost::system::error_code LastSystemError() { return {errno, boost::system::system_category()}; }

// A temporary file that is removed unless it was installed under its final
// name.
class TemporaryFile {
public:
    explicit TemporaryFile(const boost::filesystem::path& target)
    {
        const auto directory = target.has_parent_path() ? target.parent_path() : boost::filesystem::path(".");
        const auto pattern = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        _descriptor = mkostemp(name.data(), O_CLOEXEC);
        if (_descriptor >= 0) {
            _name.assign(name.data());
        }
    }

    ~TemporaryFile()
    {
        Close();
        if (!_name.empty() && !_installed) {
            unlink(_name.c_str());
        }
    }

    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool IsOpen() const { return _descriptor >= 0; }
    int Descriptor() const { return _descriptor; }
    const std::string& Name() const { return _name; }

    bool Close()
    {
        if (_descriptor < 0) {
            return true;
        }
        const int descriptor = _descriptor;
        _descriptor = -1;
        return close(descriptor) == 0;
    }

    void MarkInstalled() { _installed = true; }

private:
    int _descriptor = -1;
    std::string _name;
    bool _installed = false;
};

boost::system::error_code WriteAll(int descriptor, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t result = write(descriptor, content.data() + written, content.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastSystemError();
        }
        written += static_cast<std::size_t>(result);
    }
    return {};
}

// Links the new name, so that an existing file is never replaced; renames
// without replacing where the file system has no hard links.
boost::system::error_code CreateWithoutReplacing(const std::string& temporary, const std::string& target)
{
    if (link(temporary.c_str(), target.c_str()) == 0) {
        unlink(temporary.c_str());
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) {
        return LastSystemError();
    }
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        return LastSystemError();
    }
    return {};
}

boost::system::error_code SyncDirectory(const boost::filesystem::path& directory)
{
    const int descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        return LastSystemError();
    }
    const bool synced = fsync(descriptor) == 0;
    const auto error = synced ? boost::system::error_code() : LastSystemError();
    close(descriptor);
    return error;
}

boost::system::error_code Observe(const AtomicWriteObserver& observer, AtomicWriteStep step)
{
    return observer ? observer(step) : boost::system::error_code();
}

}  // namespace

// Deliberate: temporary file, sync, rename, mode 0600; never a rewrite in place.
boost::system::error_code WriteFileAtomically(const boost::filesystem::path& path, const std::string& content,
                                              AtomicWriteMode mode, const AtomicWriteObserver& observer)
{
    TemporaryFile temporary(path);
    if (!temporary.IsOpen()) {
        return LastSystemError();
    }
    if (fchmod(temporary.Descriptor(), S_IRUSR | S_IWUSR) != 0) {
        return LastSystemError();
    }
    if (const auto error = Observe(observer, AtomicWriteStep::TemporaryCreated)) {
        return error;
    }

    if (const auto error = WriteAll(temporary.Descriptor(), content)) {
        return error;
    }
    if (const auto error = Observe(observer, AtomicWriteStep::ContentWritten)) {
        return error;
    }

    if (fsync(temporary.Descriptor()) != 0) {
        return LastSystemError();
    }
    if (const auto error = Observe(observer, AtomicWriteStep::ContentSynced)) {
        return error;
    }

    if (!temporary.Close()) {
        return LastSystemError();
    }
    if (const auto error = Observe(observer, AtomicWriteStep::TemporaryClosed)) {
        return error;
    }

    if (mode == AtomicWriteMode::ReplaceExisting) {
        if (std::rename(temporary.Name().c_str(), path.c_str()) != 0) {
            return LastSystemError();
        }
    } else if (const auto error = CreateWithoutReplacing(temporary.Name(), path.string())) {
        return error;
    }
    temporary.MarkInstalled();

    const auto directory = path.has_parent_path() ? path.parent_path() : boost::filesystem::path(".");
    auto error = Observe(observer, AtomicWriteStep::Installed);
    if (!error) {
        error = SyncDirectory(directory);
    }
    if (!error) {
        error = Observe(observer, AtomicWriteStep::DirectorySynced);
    }
    if (error) {
        ORU_LOG_ERROR("Could not sync the directory " << directory << " after writing " << path << ": "
                                                      << Oru::LogEntryFormatter(error));
    }
    return {};
}

}  // namespace Keldra
