#pragma once

#include <filesystem>
#include <string>

// A folder of its own for one test, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return m_path; }
    std::string str() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

// A file of the shared test material, e.g. shared("fixtures/impuest-cases.mdb").
std::string shared(const std::string& relative);
// A file kept beside the tests (regression inputs), e.g. testData("regressions/x.mdb").
std::string testData(const std::string& relative);

std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);
