// Files for the tests, benchmarks and fuzz target that run the program: a
// scratch directory of their own, and whole files read and written in one
// piece.
#pragma once

#include <string>

// A fresh directory under the system's temporary folder, removed with
// everything in it when the object goes. Made with Entered it is also the
// working directory meanwhile; the previous one comes back first.
class ScratchDir {
  public:
    enum Mode { Outside, Entered };
    explicit ScratchDir(Mode mode = Outside); // throws std::runtime_error
    ~ScratchDir();
    ScratchDir(const ScratchDir &)            = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &Path() const { return path_; }
    // WriteFileAtomically of the file `name` in the directory.
    void Write(const std::string &name, const std::string &text) const;

  private:
    std::string path_;
    std::string previous_; // the working directory to go back to, if Entered
};

// Writes text to path, replacing what is there, so that a reader sees the
// old file or the new one and never a part: written beside, then renamed.
// Throws when either step fails.
void WriteFileAtomically(const std::string &path, const std::string &text);

// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string &path);
