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

// A file kept beside the tests, e.g. testData("data/impuest-cases.mdb"), testData("../demo/Impuest.mdb").
std::string testData(const std::string& relative);
// A file of the shared test material beside the checkout (../shared), e.g. shared("fixtures/access/jet3-access97.mdb"),
// or empty when it is not there: CI has it, a clone alone does not.
std::string shared(const std::string& relative);
// The message of a test skipped for want of a file of the shared material.
std::string missingShared(const std::string& relative);

std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);
