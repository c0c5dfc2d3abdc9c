// pelmora-host --script, run as a separate process the way a person or a script drives it. The same
// test runs against the Qt host on Linux and against pelmora-host.exe on Windows (under Wine), each
// compared with the calculators built for its own system (the environment variable PELMORA_HOST, if
// set, names the host to run).

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "pelmora/calc/calculators.hpp"
#include "pelmora/chart/chart.hpp"

#ifndef PELMORA_HOST
#error "PELMORA_HOST must name pelmora-host"
#endif

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::vector<std::string> lines;
};

fs::path host() {
    const char* chosen = std::getenv("PELMORA_HOST");
    return fs::path(chosen != nullptr && *chosen != '\0' ? chosen : PELMORA_HOST);
}

#ifdef _WIN32
// The host's exit status with `in` as its standard input and `out` as its standard output.
int run_host(const fs::path& in, const fs::path& out) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = CreateFileW(in.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateFileW(out.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    int status = -1;
    if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = input;
        si.hStdOutput = output;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring line = L"\"" + host().wstring() + L"\" --script";
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            WaitForSingleObject(pi.hProcess, INFINITE);
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            status = static_cast<int>(code);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    return status;
}
int process_id() { return static_cast<int>(GetCurrentProcessId()); }
#else
int run_host(const fs::path& in, const fs::path& out) {
    const std::string command = "'" + host().string() + "' --script < '" + in.string() + "' > '" + out.string() + "'";
    return std::system(command.c_str());
}
int process_id() { return static_cast<int>(::getpid()); }
#endif

Outcome run_script(const std::vector<std::string>& commands, const fs::path& dir) {
    const fs::path in = dir / "commands.txt";
    const fs::path out = dir / "answers.txt";
    {
        std::ofstream f(in, std::ios::binary);
        for (const std::string& c : commands) f << c << '\n';
    }
    Outcome r;
    r.status = run_host(in, out);
    std::ifstream f(out, std::ios::binary);
    for (std::string line; std::getline(f, line);) r.lines.push_back(line);
    return r;
}

std::string shortest(double d) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    return {buf, end};
}

class HostScript : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("pelmora-host-test-" + std::to_string(process_id()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(HostScript, AnswersEveryCommandWithOneLine) {
    using pelmora::calc::Arg;
    // The calculators' own results for the calls below.
    Arg a[] = {Arg::r8(3500), Arg::r8(280), Arg::r8(70), Arg::r8(165), Arg::r8(1), Arg::r8(1), Arg::r8(0)};
    const double nz = pelmora::calc::custcentnz(a[0], a[1], a[2], a[3], a[4], a[5], a[6]).as_r8();
    Arg a4[] = {Arg::r8(3500), Arg::r8(280), Arg::r8(70), Arg::r8(165), Arg::r8(1), Arg::r8(1), Arg::r8(4)};
    const double nz4 = pelmora::calc::custcentnz(a4[0], a4[1], a4[2], a4[3], a4[4], a4[5], a4[6]).as_r8();
    // What output_label shows for a centile: the nearest integer, halves up.
    const auto shown = [](double c) { return std::to_string(static_cast<long long>(std::floor(c + 0.5))); };
    ASSERT_NE(shown(nz), shown(nz4)) << "the parity pick below must change what the label shows";
    Arg s[] = {Arg::r8(3500), Arg::r8(283), Arg::r8(65), Arg::r8(165), Arg::r8(0), Arg::r8(1), Arg::r8(0)};
    const double swe = pelmora::calc::custcentswe(s[0], s[1], s[2], s[3], s[4], s[5], s[6]).as_r8();
    const fs::path picture = dir / "form.png";

    struct Step {
        std::string command;
        std::string answer;
        bool prefix = false;  // the answer only starts so
    };
    const std::vector<Step> steps = {
        {"show", "56"},
        {"text Combosex", "Female"},
        {"items Combopar", "0|1|2|3|4 or more"},
        {"pick Combobase New Zealand", "ok"},
        {"items Comboeth", "Chinese|European|Indian|Maori|Samoan|Tongan|Other"},
        {"text Comboeth", "European"},
        {"pick Combowt 70", "ok"},
        {"pick Combosex Male", "ok"},
        {"show", shown(nz)},
        {"pick Combopar 4 or more", "ok"},
        {"text Combopar", "4 or more"},
        {"show", shown(nz4)},
        {"pick Combopar 0", "ok"},
        {"pick Combobase Mars", "error: ", true},
        {"pick Nolist 40", "error: ", true},
        {"text Nolist", "error: ", true},
        {"frobnicate", "error: ", true},
        {"", "error: ", true},
        {"text Combobase", "New Zealand"},
        {"call custcentnz 3500 280 70 165 1 1 0", shortest(nz) + " 3500 40 70 165 1 1 0"},
        {"call custcentswe 3500 283 65 165 0 1 0", shortest(swe) + " 3500 " + shortest(283.0 / 7) + " 65 -2 0 1 0"},
        {"call custcentukn \"\" 280 65 165 0 1 0", "\"\" \"\" 280 65 165 0 1 0"},
        {"call custcentau empty 280 65 165 0 1 0", "\"\" empty 280 65 165 0 1 0"},
        {"call custcentukn \"abc\" 280 65 165 0 1 0", "error: run-time error 13: Type mismatch", true},
        {"call custcentukn null 280 65 165 0 1 0", "error: run-time error 94: Invalid use of Null", true},
        {"call custcentukn 3500 280 65 165 0 1", "error: ", true},
        {"call custcentxx 1 2 3 4 5 6 7", "error: unknown method custcentxx"},
        {"call custcentukn 3500 280 65 1x 0 1 0", "error: ", true},
        {"screenshot " + picture.string(), "ok"},
        {"show", shown(nz)},
    };
    std::vector<std::string> commands;
    for (const Step& s2 : steps) commands.push_back(s2.command);
    const Outcome r = run_script(commands, dir);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].command);
        if (steps[i].prefix) {
            EXPECT_EQ(r.lines[i].substr(0, steps[i].answer.size()), steps[i].answer) << r.lines[i];
            EXPECT_GT(r.lines[i].size(), std::string("error: ").size());
        } else {
            EXPECT_EQ(r.lines[i], steps[i].answer);
        }
    }
    std::ifstream png(picture, std::ios::binary);
    char magic[8] = {};
    png.read(magic, sizeof magic);
    EXPECT_EQ(std::string(magic, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

// The chart follows the picks: after each group of picks, `chart FILE` writes the very bytes the
// chart writer gives for the mother and the birth point the lists show (what pelmora-centile chart
// writes for them), the picked base, weight and gestation included.
TEST_F(HostScript, ChartFollowsThePicks) {
    using pelmora::calc::Base;
    struct Stage {
        std::vector<std::string> picks;
        pelmora::calc::Mother mother;  // eth 1: each base's reference group, picked with the base
        pelmora::chart::Point birth;
    };
    const std::vector<Stage> stages = {
        {{}, {Base::united_kingdom, 65, 165, 0, 1, 0}, {280, 3500, "birth"}},
        {{"pick Combobase New Zealand", "pick Combobwt 2500", "pick Combogw 37", "pick Combogd 3"},
         {Base::new_zealand, 65, 165, 0, 1, 0},
         {262, 2500, "birth"}},
        {{"pick Combobwt Over 5000", "pick Combopar 4 or more", "pick Combosex Male", "pick Combowt 80"},
         {Base::new_zealand, 80, 165, 1, 1, 4},
         {262, 5500, "birth"}},
        {{"pick Combobase Sweden", "pick Comboht 150"}, {Base::sweden, 80, 150, 1, 1, 4}, {262, 5500, "birth"}},
    };
    std::vector<std::string> commands;
    std::vector<std::string> answers;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        for (const std::string& p : stages[i].picks) {
            commands.push_back(p);
            answers.push_back("ok");
        }
        commands.push_back("chart " + (dir / ("chart" + std::to_string(i) + ".svg")).string());
        answers.push_back("ok");
    }
    const fs::path unwritable = dir / "missing" / "chart.svg";
    commands.push_back("chart " + unwritable.string());
    commands.push_back("chart");
    const Outcome r = run_script(commands, dir);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), answers.size() + 2);
    for (std::size_t i = 0; i < answers.size(); ++i) EXPECT_EQ(r.lines[i], answers[i]) << commands[i];
    EXPECT_EQ(r.lines[answers.size()].substr(0, 20), "error: cannot write ");
    EXPECT_EQ(r.lines[answers.size() + 1], "error: missing file name");
    EXPECT_FALSE(fs::exists(unwritable));

    std::string previous;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        SCOPED_TRACE(i);
        pelmora::chart::Chart expected;
        expected.mother = stages[i].mother;
        expected.points = {stages[i].birth};
        std::ifstream f(dir / ("chart" + std::to_string(i) + ".svg"), std::ios::binary);
        const std::string written{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
        EXPECT_EQ(written, pelmora::chart::svg(expected));
        EXPECT_NE(written, previous);
        previous = written;
    }
}

}  // namespace
