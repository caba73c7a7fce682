// The command-line cases of tests/uvwhost/cases, one test per file. A file holds cases:
//
//   [a name]                     starts a case
//   when: assets | no assets     the case needs a build with (without) mesh and image files
//   run: ARGS                    the arguments after "uvwhost", split at spaces; '...' quotes
//                                (runs before the last must succeed; the last one is checked)
//   stdin: TEXT                  (default: nothing)
//   file NAME: TEXT              written into the case's directory, $DIR/NAME, before the run
//   exit: N                      the exit status (default: 0)
//   stdout: TEXT                 the whole of stdout (stderr: the same)
//   stdout has: TEXT             found in stdout, as often as given (stderr has: the same)
//   pixel NAME X Y: V...         the pixel (X, Y) of the image $DIR/NAME (x right, y down) has
//                                the values V... in its first channels, each within 1e-4
//
// A TEXT is the rest of the line, or the lines after the key indented by four spaces; each
// line ends with a newline, except in what a stream "has". A stream with no line about it must
// be empty. In arguments, stdin and files \xHH is the byte HH; expected texts are what the
// program prints, byte for byte. "$DIR/", "$EXAMPLES/", "$CASES/", "$LIB" and "$HOST_LIB": see
// test::Case.
// Lines starting with '#' are comments.
#include "tests/support/Uvwhost.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace uvwhost;

namespace {

namespace fs = std::filesystem;

std::string decodeBytes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 4 <= text.size()) {
            out += char(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> splitArgs(const std::string& line) {
    std::vector<std::string> args;
    std::optional<std::string> word;
    bool quoted = false;
    for (const char c : line + " ") {
        if (c == ' ' && !quoted) {
            if (word) {
                args.push_back(decodeBytes(*word));
            }
            word.reset();
        } else {
            quoted = quoted != (c == '\'');
            word = word.value_or("") + (c == '\'' ? "" : std::string(1, c));
        }
    }
    return args;
}

struct CaseFile {
    std::vector<test::Case> cases;
    std::vector<std::string> errors;
};

CaseFile readCases(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    CaseFile file;
    std::vector<bool> wanted, ran; // by this build; has a run line: one a case
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string where = path.filename().string() + ":" + std::to_string(i + 1);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '[' && line.back() == ']') {
            file.cases.emplace_back().where = where + " " + line;
            wanted.push_back(true);
            ran.push_back(false);
            continue;
        }
        const auto colon = line.find(':');
        if (file.cases.empty() || colon == std::string::npos) {
            file.errors.push_back(where + ": expected [a name] or KEY: TEXT, got " + line);
            continue;
        }
        test::Case& c = file.cases.back();
        const std::string key = line.substr(0, colon);
        const std::string value = line.substr(std::min(line.size(), colon + 2));
        // The text of the key: the value, or the indented lines after it.
        std::string text = value.empty() ? "" : value + "\n";
        while (value.empty() && i + 1 < lines.size() && lines[i + 1].starts_with("    ")) {
            text += lines[++i].substr(4) + "\n";
        }
        const std::string has = text.empty() ? "" : text.substr(0, text.size() - 1);
        if (key == "when" && (value == "assets" || value == "no assets")) {
#if defined(UVWHOST_HAVE_ASSETS)
            wanted.back() = value == "assets";
#else
            wanted.back() = value == "no assets";
#endif
        } else if (key == "run") {
            if (ran.back()) {
                c.before.push_back(c.args);
            }
            c.args = splitArgs(value);
            ran.back() = true;
        } else if (key == "stdin") {
            c.input = decodeBytes(text);
        } else if (key.starts_with("file ")) {
            c.files.emplace_back(key.substr(5), decodeBytes(text));
        } else if (key == "exit") {
            c.status = std::stoi(value);
        } else if (key == "stdout" || key == "stderr") {
            (key == "stdout" ? c.out : c.err) = text;
        } else if (key == "stdout has" || key == "stderr has") {
            (key == "stdout has" ? c.outHas : c.errHas).push_back(has);
        } else if (key.starts_with("pixel ")) {
            std::istringstream place(key.substr(6)), values(value);
            test::Case::Pixel& p = c.pixels.emplace_back();
            place >> p.file >> p.x >> p.y;
            for (float v; values >> v;) {
                p.values.push_back(v);
            }
            if (p.values.empty() || !values.eof()) {
                file.errors.push_back(where + ": expected pixel NAME X Y: numbers, got " + line);
            }
        } else {
            file.errors.push_back(where + ": unknown key or value: " + line);
        }
    }
    for (std::size_t k = wanted.size(); k-- > 0;) {
        if (!wanted[k]) {
            file.cases.erase(file.cases.begin() + std::ptrdiff_t(k));
        }
    }
    return file;
}

std::vector<std::string> caseFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(UVWHOST_CASES_DIR)) {
        if (entry.path().extension() == ".txt") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class UvwhostCases : public testing::TestWithParam<std::string> {};

} // namespace

TEST_P(UvwhostCases, RunAsWritten) {
    const CaseFile file = readCases(fs::path(UVWHOST_CASES_DIR) / (GetParam() + ".txt"));
    for (const std::string& error : file.errors) {
        ADD_FAILURE() << error;
    }
    EXPECT_FALSE(file.cases.empty());
    test::TempDir dir;
    for (const test::Case& c : file.cases) {
        test::check(c, dir);
    }
}

INSTANTIATE_TEST_SUITE_P(File, UvwhostCases, testing::ValuesIn(caseFiles()),
                         [](const auto& info) { return info.param; });
