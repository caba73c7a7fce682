#include "tests/rows/PluginRows.h"

#include "kivo/HostSdk.h"
#include "uvwhost/Catalog.h"
#include "uvwhost/ContextLine.h"
#include "uvwhost/Evaluation.h"
#include "uvwhost/SceneFile.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace rows {

using namespace KUtils;
using uvwhost::Json;

namespace {

void checkGpu(const Json& want, PluginBase* plugin, KivoRenderer* renderer) {
    auto* rt = static_cast<RTTexInterface*>(plugin->getInterface(EXT_RTTEX));
    ASSERT_NE(rt, nullptr);
    ShaderSource source;
    const Json flag = want.value("objectSpaceFlag", Json::array({0, 0}));
    GPUDataRecord record{.objectSpaceFlag = flag[0], .renderer = renderer};
    EXPECT_EQ(rt->emitRTSource(want.value("output", "").c_str(), "uvw", "MaterialDescriptor",
                               source, record),
              1);
    EXPECT_EQ(std::string(source.text()), want.value("text", ""));
    EXPECT_EQ(record.objectSpaceFlag, flag[1]);
}

void runRow(const Json& row, const std::string& type, const uvwhost::Catalog& catalog) {
    Json instances = row.value("inputs", Json::array());
    instances.push_back(
        {{"name", "subject"}, {"type", type}, {"params", row.value("params", Json::object())}});
    const auto doc = uvwhost::readSceneDocument(
        {{"instances", instances}, {"frame", row.value("frame", Json::object())}}, "row");
    ASSERT_TRUE(doc) << doc.error();
    const auto plugins = uvwhost::readScenePlugins(*doc, catalog);
    ASSERT_TRUE(plugins) << plugins.error();
    uvwhost::PluginSession session;
    ASSERT_EQ(uvwhost::instantiateScenePlugins(*doc, *plugins, session), "");
    session.applyFrame(doc->frame);
    const auto request = uvwhost::readContext(row.value("at", Json::object()));
    ASSERT_TRUE(request) << request.error();
    PluginBase* subject = session.find("subject")->plugin;

    session.prepareRender();
    // Twice: what a frame begin prepares must not build on the frame before.
    for (int frame = 0; frame < 2; ++frame) {
        session.beginFrame();
        ShadingContext sc;
        sc.renderer = session.renderer();
        uvwhost::fillContext(*request, 0, sc);
        const Json got = uvwhost::evaluate(uvwhost::EvalTarget::of(subject), sc);
        EXPECT_EQ(difference(row.value("expect", Json::object()), got, row.value("tol", 1e-5), ""),
                  "")
            << "frame " << frame;
        if (frame == 0 && row.contains("gpu")) {
            checkGpu(row["gpu"], subject, session.renderer());
        }
        session.endFrame();
    }
    if (row.contains("log")) {
        EXPECT_EQ(Json(session.render().log.lines()), row["log"]);
    }
}

// The lines of a data file with their numbers, the comments left out.
std::vector<std::pair<int, std::string>> dataLines(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::vector<std::pair<int, std::string>> lines;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        if (++number, !line.empty() && line[0] != '#') {
            lines.emplace_back(number, line);
        }
    }
    return lines;
}

} // namespace

std::string difference(const Json& want, const Json& got, double tol, const std::string& path) {
    if (want.is_null()) {
        return {};
    }
    if (want.is_object()) {
        for (const auto& [key, item] : want.items()) {
            const Json missing = "(missing)";
            const Json& part = got.is_object() && got.contains(key) ? got[key] : missing;
            if (std::string m = difference(item, part, tol, path + "/" + key); !m.empty()) {
                return m;
            }
        }
        return {};
    }
    bool same = want == got;
    if (want.is_array() && got.is_array() && want.size() == got.size()) {
        same = true;
        for (std::size_t i = 0; i < want.size(); ++i) {
            same = same && difference(want[i], got[i], tol, path).empty();
        }
    } else if (want.is_number() && got.is_number()) {
        same = std::fabs(want.get<double>() - got.get<double>()) <= tol;
    }
    return same ? "" : path + ": got " + got.dump() + ", expected " + want.dump();
}

void runRows(const std::string& dir, const std::string& type,
             const std::vector<KivoPluginDesc*>& types) {
    const std::string file = type + ".jsonl";
    const uvwhost::Catalog catalog(types);
    Json base = Json::object();
    for (const auto& [number, line] : dataLines(dir + "/" + file)) {
        const std::string where = file + ":" + std::to_string(number);
        auto row = uvwhost::parseJson(line);
        ASSERT_TRUE(row) << where << ": " << row.error();
        if (row->contains("base")) {
            base = (*row)["base"];
            continue;
        }
        Json merged = base;
        merged.merge_patch(*row);
        SCOPED_TRACE(where + " " + merged.value("what", ""));
        runRow(merged, type, catalog);
    }
}

std::vector<std::vector<float>> readTable(const std::string& dir, const std::string& name) {
    std::vector<std::vector<float>> table;
    for (const auto& [number, line] : dataLines(dir + "/" + name + ".txt")) {
        std::istringstream words(line);
        table.emplace_back();
        for (std::string word; words >> word;) {
            table.back().push_back(std::strtof(word.c_str(), nullptr));
        }
    }
    return table;
}

} // namespace rows
