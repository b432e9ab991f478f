// Damaged copies of the databases through start-up and a TXT export. Each copy must end in the program's own
// messages: never a crash, a hang, a partial or temporary file, or a change to the database file (the export of a
// copy that loads reads it as any export does).
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "support/DamagedCopies.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What the box says, in a word; with "!" before it, a box the program never shows.
std::string kindOf(const ShownBox& box) {
    if (box ==
        ShownBox{"No se ha podido realizar la conexión al servidor", MsgIcon::Information, MsgButtons::OK, "Atención"})
        return "Atención";
    if (box.text.starts_with("Error : FORM_LOAD -") && box.icon == MsgIcon::Critical && !box.title)
        return "FORM_LOAD error";
    if (box.text.starts_with(" Archivo Generado : ") && box.icon == MsgIcon::Information && !box.title)
        return "completed";
    if (box.text.starts_with("Error al crear el archivo!!, si lo tiene abierto en otro programa \rciérrelo y vuelva "
                             "a intentarlo.\r\rMotivo: ") &&
        box.icon == MsgIcon::Critical && box.title == "** ERROR **")
        return "error";
    if (box == ShownBox{"No se pudo encontrar el ID del contribuyente!!!", MsgIcon::Critical, MsgButtons::OK, {}})
        return "not found";
    std::ostringstream out;
    PrintTo(box, &out);
    return "!" + out.str();
}

// Writes `bytes` as the program's database in `folder`, starts the program there and exports the first listed
// taxpayer (or a typed one when the list is empty) as TXT. Returns "start-up / export" in words, with "!" before
// whatever the program must not do.
std::string startAndExport(const fs::path& folder, const std::string& bytes) {
    fs::remove_all(folder);
    fs::create_directory(folder);
    writeBytes(folder / "Impuest.mdb", bytes);
    // A time no reading could leave behind.
    const auto written = fs::last_write_time(folder / "Impuest.mdb") - std::chrono::hours(24 * 400);
    fs::last_write_time(folder / "Impuest.mdb", written);
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form(controls, boxes, folder.string());
    Form_Load(form);
    std::string outcome = boxes.shown().empty() ? "loaded" : kindOf(boxes.shown().front());
    if (boxes.shown().size() > 1 || !(outcome == "loaded" || outcome == "Atención" || outcome == "FORM_LOAD error"))
        outcome = "!" + outcome;
    controls.combo = controls.list.empty() ? "20-12345678-3" : controls.list.front();
    controls.desde = "200001";
    controls.hasta = "222201";
    boxes.clear();
    btn_gen_txt_orv_Click(form);
    Command3_Click(form);
    const std::string exported = boxes.shown().size() == 1 ? kindOf(boxes.shown()[0]) : "several boxes";
    const bool allowed = exported == "completed" || exported == "error" || exported == "not found";
    outcome += std::string(" / ") + (allowed ? "" : "!") + exported;
    const std::vector<std::string> files = namesIn(folder / "RET-PERC");
    if (files.size() != (outcome.ends_with("completed") ? 1u : 0u))
        outcome += " !the folder holds " + std::to_string(files.size());
    for (const std::string& name : files)
        if (name.find(".tmp-") != std::string::npos) outcome += " !left " + name;
    // The program only reads: the database keeps its bytes and its time, and nothing is put beside it.
    if (readBytes(folder / "Impuest.mdb") != bytes || fs::last_write_time(folder / "Impuest.mdb") != written)
        outcome += " !the database file changed";
    if (namesIn(folder) != std::vector<std::string>{"Impuest.mdb", "RET-PERC"}) outcome += " !beside the database";
    return outcome;
}

// Runs `body` in a forked child with `seconds` to finish, so that a crash or a hang fails the case and names it
// instead of ending or blocking the test program. Returns what the body returned, or how the child ended with the
// end of what it wrote to standard error (where a sanitizer report goes), which goes to the file `errors`.
std::string inChild(const std::function<std::string()>& body, unsigned seconds, const fs::path& errors) {
    int result[2];
    if (::pipe(result) != 0) return "!cannot make a pipe";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(errors.c_str(), "w", stderr);
        ::alarm(seconds);
        const std::string answer = body();
        if (::write(result[1], answer.data(), answer.size()) < 0) {}
        ::_exit(0);  // no exit handlers: the test framework's state belongs to the parent
    }
    ::close(result[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, std::size_t(n));
    ::close(result[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return answer;
    std::string tail = readBytes(errors);
    tail.erase(0, tail.size() - std::min<std::size_t>(tail.size(), 3000));
    return "!" + (WIFSIGNALED(status) ? std::string("killed by ") + strsignal(WTERMSIG(status)) : "exited") + "\n" +
           tail;
}

TEST(DamagedDatabases, EndInTheProgramsOwnMessages) {
    std::vector<std::function<std::pair<std::string, std::string>()>> copies;
    std::string skipped;
    for (const DamageSource& source : kDamageSources) {
        const std::string file = damageSourcePath(source);
        if (file.empty()) {
            skipped += "\n" + missingShared(source.file);
            continue;
        }
        const auto original = std::make_shared<std::string>(readBytes(file));
        for (int kind = 0; kind < 4; ++kind)
            for (int n = 0; n < source.copiesPerDamage; ++n)
                copies.push_back([&source, original, kind, n] { return damage(source, *original, kind, n); });
    }
    // Files that once crashed or hung the reader.
    for (const auto& entry : fs::directory_iterator(testData("regressions")))
        copies.push_back([file = entry.path()] { return std::make_pair(file.string(), readBytes(file)); });
    EXPECT_GE(copies.size(), 800u);

    TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    std::map<std::string, int> tally;
    for (const auto& copy : copies) {
        // A case takes well under a second even with the sanitizers; a hang fails it (SIGALRM) after 10.
        const std::string outcome =
            inChild([&] { return startAndExport(dir.path() / "case", copy().second); }, 10, dir.path() / "errors");
        if (outcome.find('!') == std::string::npos)
            ++tally[outcome];
        else
            ADD_FAILURE() << copy().first << ": " << outcome;
    }
    // What the copies came to, for the record: the share of each outcome shows whether the damage reached the
    // reading code at all.
    std::printf("%zu copies in %.1f s\n", copies.size(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    for (const auto& [outcome, n] : tally) std::printf("%6d  %s\n", n, outcome.c_str());
    if (!skipped.empty()) GTEST_SKIP() << "the other copies ran;" << skipped;
}

}  // namespace
