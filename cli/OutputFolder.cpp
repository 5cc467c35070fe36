#include "OutputFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <regex>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Terminal.h"

namespace orvane_cli {

namespace {

std::runtime_error WriteError(const std::string& path, int error)
{
    return std::runtime_error("cannot write '" + path + "': " + std::strerror(error));
}

// Closes and removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string pathArg) : path(std::move(pathArg)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (descriptor >= 0) ::close(descriptor);
        if (!kept) ::unlink(path.c_str());
    }

    int descriptor = -1;
    std::string path;
    bool kept = false;
};

}  // namespace

OutputFolder::OutputFolder(std::string folderArg) : folder(std::move(folderArg)) {}

OutputFolder::~OutputFolder()
{
    // Not committed: the run failed, and what it wrote goes, down to the folders it made.
    for (const Pending& file : pending) ::unlink(file.temporary.c_str());
    if (!committed)
        for (const std::string& made : createdFolders) ::rmdir(made.c_str());  // only if empty
    if (lock >= 0) ::close(lock);
}

void OutputFolder::Commit()
{
    // Every name is checked before any is replaced, so a folder in the way of one file does not
    // leave the others half committed.
    for (const Pending& file : pending) {
        std::error_code error;
        if (std::filesystem::is_directory(file.finalPath, error))
            throw std::runtime_error("cannot write '" + file.finalPath + "': " + std::strerror(EISDIR));
    }
    // The last file written seals the run (its manifest): the earlier run's goes first, so a run
    // stopped while its files go into place leaves a folder without one.
    if (!pending.empty()) ::unlink(pending.back().finalPath.c_str());
    for (size_t k = 0; k < pending.size(); ++k)
        if (::rename(pending[k].temporary.c_str(), pending[k].finalPath.c_str()) != 0) {
            const int error = errno;
            pending.erase(pending.begin(), pending.begin() + long(k));
            throw WriteError(pending.front().finalPath, error);
        }
    pending.clear();
    committed = true;
}

void OutputFolder::CreateFolder()
{
    // The folders this run makes, deepest first, so a failed run can take them away again.
    std::vector<std::string> missing;
    std::error_code error;
    for (std::filesystem::path p = folder; !p.empty() && !std::filesystem::exists(p, error); p = p.parent_path()) {
        missing.push_back(p.string());
        if (p == p.parent_path()) break;
    }
    std::filesystem::create_directories(folder, error);
    if (error) throw std::runtime_error("cannot create the folder '" + folder + "': " + error.message());
    createdFolders = missing;
}

void OutputFolder::Claim()
{
    lock = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) throw WriteError(folder, errno);
    // A file system without locks (ENOLCK) cannot tell: such a run neither refuses nor tidies.
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return;
        throw std::runtime_error("another orvane run is writing into '" + folder +
                                 "'; wait for it to finish or choose another --out");
    }
    // No other run holds the folder, so every temporary file in it is left from one that died.
    static const std::regex partial(R"(\..+\.partial-[A-Za-z0-9]{6})");
    int removed = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (std::regex_match(entry.path().filename().string(), partial) && std::filesystem::remove(entry.path(), error))
            ++removed;
    if (removed > 0)
        std::fprintf(stderr, "orvane: removed %d partial file%s left in '%s' by an interrupted run\n", removed,
                     removed == 1 ? "" : "s", Printable(folder).c_str());
}

std::string OutputFolder::InputAt(const std::string& name) const
{
    const std::filesystem::path target = std::filesystem::path(folder) / name;
    for (const std::string& input : inputs) {
        std::error_code error;  // a missing file is no input's twin
        if (std::filesystem::equivalent(target, input, error)) return input;
    }
    return {};
}

std::string OutputFolder::Write(const std::string& name, const std::string& kind, const char* data,
                                std::size_t size, int64_t triangles)
{
    if (lock < 0) {
        CreateFolder();
        Claim();
    }

    const std::string finalPath = (std::filesystem::path(folder) / name).string();
    const std::string input = InputAt(name);
    if (!input.empty()) throw std::runtime_error("refusing to write '" + finalPath + "' over the input '" + input + "'");
    // A dot name with a unique suffix: hidden, and never mistaken for a finished file.
    std::string pattern = (std::filesystem::path(folder) / ("." + name + ".partial-XXXXXX")).string();
    TemporaryFile temporary(pattern);
    temporary.descriptor = ::mkstemp(pattern.data());
    if (temporary.descriptor < 0) {
        temporary.kept = true;  // nothing was created
        throw WriteError(finalPath, errno);
    }
    temporary.path = pattern;
    // mkstemp makes the file private; give it the mode any new file of this user gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(temporary.descriptor, 0666 & ~mask);

    for (std::size_t done = 0; done < size;) {
        const ssize_t written = ::write(temporary.descriptor, data + done, size - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            throw WriteError(finalPath, errno);
        }
        done += static_cast<std::size_t>(written);
    }
    const int descriptor = temporary.descriptor;
    temporary.descriptor = -1;
    if (::close(descriptor) != 0) throw WriteError(finalPath, errno);
    temporary.kept = true;
    // A second write of one name replaces the first.
    for (auto it = pending.begin(); it != pending.end(); ++it)
        if (it->finalPath == finalPath) {
            ::unlink(it->temporary.c_str());
            pending.erase(it);
            break;
        }
    pending.push_back({temporary.path, finalPath});
    files.erase(std::remove_if(files.begin(), files.end(), [&](const WrittenFile& f) { return f.path == finalPath; }),
                files.end());
    files.push_back({finalPath, kind, size, triangles});
    return finalPath;
}

}  // namespace orvane_cli
