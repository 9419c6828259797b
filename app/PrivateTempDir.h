#pragma once

#include <string>

// A folder of our own in the temporary directory (mkdtemp, mode 0700) for
// copies of another program's files; removed with everything in it when
// the object goes away, whichever way the caller leaves.
class PrivateTempDir {
public:
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;

    // False when the folder could not be made; problem() says why.
    bool ok() const { return !m_path.empty(); }
    const std::string& problem() const { return m_problem; }
    const std::string& path() const { return m_path; }

    // Copies the regular file source into the folder as name (mode 0600)
    // and gives the copy's path. False with the reason in words; missing
    // tells a source that does not exist from one that cannot be read.
    bool copyIn(const std::string& source, const std::string& name, std::string& copy,
                std::string& problem, bool* missing = nullptr) const;

private:
    std::string m_path;
    std::string m_problem;
};
