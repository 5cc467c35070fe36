// The folder a command writes into. Every file is written under a hidden temporary name in the
// same folder; Commit renames them all into place once the whole run has succeeded. A run that
// fails (or is killed) before that leaves the files of earlier runs as they were, and its own
// temporary files go (at once, or with the next run into the folder). One run writes into a
// folder at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane_cli {

struct WrittenFile {
    std::string path;
    std::string kind;  // "preview", "stl", "3mf", "stack", "swaps", "card-image"
    std::size_t bytes = 0;
    int64_t triangles = -1;  // mesh files only
};

class OutputFolder {
public:
    // Creates the folder (and its parents) on the first write, not before: a command that
    // fails while checking its input leaves nothing behind.
    explicit OutputFolder(std::string folder);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Writes size bytes for folder/name; returns the final path, where the file appears at Commit.
    // Throws std::runtime_error with the path and the system's reason when it cannot be written.
    std::string Write(const std::string& name, const std::string& kind, const char* data, std::size_t size,
                      int64_t triangles = -1);
    std::string Write(const std::string& name, const std::string& kind, const std::string& text)
    {
        return Write(name, kind, text.data(), text.size());
    }
    std::string Write(const std::string& name, const std::string& kind,
                      const std::vector<unsigned char>& bytes)
    {
        return Write(name, kind, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    // Files the command reads: Write refuses to replace any of them.
    void ProtectInputs(std::vector<std::string> paths) { inputs = std::move(paths); }
    // The protected input that folder/name is (the same file, by whatever path), or "".
    std::string InputAt(const std::string& name) const;

    // Puts every file written into place. Throws std::runtime_error when one cannot be; the
    // files not yet in place are then removed with this folder.
    void Commit();

    const std::string& Path() const { return folder; }
    const std::vector<WrittenFile>& Files() const { return files; }

private:
    // Holds the folder for this run: a second run into it at once refuses instead of mixing
    // its files in, and the hidden partial files of interrupted runs can go.
    void Claim();
    void CreateFolder();

    struct Pending {
        std::string temporary, finalPath;
    };

    std::string folder;
    int lock = -1;  // the folder, opened and locked; released by the system if the run dies
    std::vector<WrittenFile> files;
    std::vector<Pending> pending;
    std::vector<std::string> createdFolders;
    bool committed = false;
    std::vector<std::string> inputs;
};

}  // namespace orvane_cli
