#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Whether the tests run on Windows (under Wine), where some of the system's words and rules are its own.
#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

// A path as the program takes it (UTF-8), and a UTF-8 path as the library takes it, on both systems (Windows's
// narrow paths are in its ANSI code page, which cannot hold every name).
std::string utf8Path(const std::filesystem::path& path);
std::filesystem::path pathOf(const std::string& utf8);

// A folder of its own for one test, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const noexcept { return m_path; }
    // The folder's path in UTF-8, as the program takes paths.
    std::string str() const { return utf8Path(m_path); }

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

// The system's words for an error a test provokes: `linuxWords` on Linux, pinned there; on Windows the system's own
// words for its error code `windowsError` (platform/SystemError.h), which are the system's, in its language.
std::string systemWords(const char* linuxWords, unsigned long windowsError);

std::string readBytes(const std::filesystem::path& file);
// The data pages (type 1) of the tables whose definition (type 2) names `column`, in a Jet 4 file.
std::vector<std::size_t> dataPagesOf(const std::string& file, const std::string& column);
void writeBytes(const std::filesystem::path& file, const std::string& bytes);
