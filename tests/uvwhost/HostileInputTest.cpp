// Input a hostile user builds, too large to write down in a case file (the mistakes a user
// makes: the case files): every one ends with a message naming what is wrong and the exit status
// saying what was done (2: refused before anything was evaluated; 1: the good lines answered),
// promptly, with no signal and no exception leaving the program. And the built program run as
// a user runs it.
#include "tests/support/Uvwhost.h"

#include <gtest/gtest.h>

using namespace uvwhost;

namespace {

std::string nested(int depth) {
    return std::string(std::size_t(depth), '[') + std::string(std::size_t(depth), ']');
}

std::string instance(const std::string& name, const std::string& params = "{}") {
    return R"({"name": ")" + name + R"(", "type": "UVWGenChannel", "params": )" + params + "}";
}

// {"instances": [...]} of the given entries.
std::string scene(const std::vector<std::string>& instances) {
    std::string text = "{\"instances\": [";
    for (std::size_t i = 0; i < instances.size(); ++i) {
        text += (i ? "," : "") + instances[i];
    }
    return text + "]}";
}

// Runs `args` with the scene file $DIR/scene.json holding `sceneText` and `input` on stdin: it
// ends with `status` and `message` on stderr (none: nothing there), and on stdout as well when
// lines were answered.
void expectEnd(int status, const std::string& message, std::vector<std::string> args,
               const std::string& sceneText = "", const std::string& input = "") {
    test::Case c;
    c.where = args[0] + " " + args[1].substr(0, 80) + ": " + message;
    c.args = std::move(args);
    c.input = input;
    c.status = status;
    if (!message.empty()) {
        c.errHas = {message};
    }
    if (!sceneText.empty()) {
        c.files = {{"scene.json", sceneText}};
    }
    if (status != EXIT_BAD_INPUT) {
        // The answer, or the error in a JSON string.
        const std::string quoted = Json(message).dump();
        c.outHas = {message.empty() ? "{\"uvw\":" : quoted.substr(1, quoted.size() - 2)};
    }
    test::check(c, test::TempDir());
}

const std::vector<std::string> refusedScene = {"render", "--scene", "$DIR/scene.json", "-o",
                                               "$DIR/never.png"};

} // namespace

TEST(HostileInput, LongChainsManyUsersDeepNestingAndHugeLines) {
    // Chains a render thread's stack cannot follow, and 100,000 users of one instance.
    std::vector<std::string> chain{instance("c0")};
    std::vector<std::string> users{chain[0]};
    for (int i = 1; i < 100000; ++i) {
        const std::string n = std::to_string(i);
        if (i < 300) {
            chain.push_back(instance("c" + n, R"({"uvwgen": "@c)" + std::to_string(i - 1) + "\"}"));
        }
        users.push_back(R"({"name": "t)" + n +
                        R"(", "type": "TexUVW", "params": {"uvwgen": "@c0"}})");
    }
    expectEnd(2, "a path of more than 256 references", refusedScene, scene(chain));
    expectEnd(0, "", {"eval", "UVWGenChannel", "--scene", "$DIR/scene.json", "--instance", "c0"},
              scene(users), "{}\n");

    expectEnd(2, "nested deeper than 64 levels", refusedScene, nested(100000));
    expectEnd(1, "nested deeper than 64 levels", {"eval", "UVWGenObject"}, "",
              nested(100000) + "\n");
    expectEnd(2, "nested deeper than 64 levels",
              {"gpu", "UVWGenChannel", "--set", "wrap_u=" + nested(100000)});
    std::string manyKeys = "{";
    for (int i = 0; i < 100000; ++i) {
        manyKeys += (i ? ",\"k" : "\"k") + std::to_string(i) + "\": 0";
    }
    expectEnd(1, R"(unknown field "k0")", {"eval", "UVWGenObject"}, "", manyKeys + "}\n");
    expectEnd(2, "... (10000000 bytes)", {"params", std::string(10000000, 'N')});
}

TEST(UvwhostProgram, TheImageOnStdoutAndTheLibraryNextToTheProgram) {
    // -o - writes the PNG to standard output, and nothing named "-".
    const test::Run image = test::runProgram("render --width 8 --height 8 --quiet -o -");
    EXPECT_EQ(image.status, 0);
    EXPECT_EQ(image.out.substr(1, 3), "PNG");
    EXPECT_EQ(image.out.substr(4, 4), "\r\n\x1a\n"); // the bytes a text-mode stream would alter
    EXPECT_FALSE(std::filesystem::exists("-"));
    // The installed program, run as a user would: no --lib, the library found next to it; a
    // missing one is exit status 2 from the real process as well.
    const test::Run listed = test::runProgram("list --json");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(Json::parse(listed.out)["category"], "UVW Generators");
    EXPECT_EQ(test::runProgram("--lib nonexistent list 2>&1").status, 2);
}
