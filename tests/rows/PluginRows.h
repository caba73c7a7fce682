// Plugin evaluations kept as rows of data, read by the reference host's own readers: one
// instance (with inputs it refers to) given parameters and render settings, evaluated at one
// shading context over two frames, and compared with what a row expects.
//
// A rows file holds one JSON object a line; lines that are empty or start with '#' are
// comments. A line with "base" alone sets what the following rows start from (each row is
// merged into it as a JSON merge patch; "base": {} clears it). Row fields, all optional:
//   "what"     names the row in failures
//   "params"   the instance's parameters in scene-file shapes (uvwhost/ParamSettings.h)
//   "inputs"   scene-file instances created before it, referred to as "@name"
//   "frame"    scene-file frame settings (uvwhost/FrameSettings.h)
//   "at"       the shading context, an `uvwhost eval` line (uvwhost/ContextLine.h)
//   "expect"   part of what `uvwhost eval` prints for it (uvwhost/Evaluation.h): every number
//              within "tol" (default 1e-5), in both frames; null matches anything
//   "gpu"      {"output", "text", "objectSpaceFlag": [before, after]}: emitRTSource for a
//              material in the first frame, answering 1, its text byte for byte
//   "log"      the message lines of both frames, byte for byte
#pragma once

#include "kivo/PluginModel.h"
#include "uvwhost/JsonValues.h"

#include <string>
#include <vector>

namespace rows {

// Runs every row of <dir>/<type>.jsonl, the rows of that plugin type, with the library types
// given. Each test program passes ROWS_DIR, its own folder.
void runRows(const std::string& dir, const std::string& type,
             const std::vector<KUtils::KivoPluginDesc*>& types);

// Where `got` differs from `want`, a part of it (null: anything; numbers within tol): empty
// when nowhere, else the place and both values.
std::string difference(const uvwhost::Json& want, const uvwhost::Json& got, double tol,
                       const std::string& path = "");

// The rows of the table file <dir>/<name>.txt: numbers separated by blanks, as strtof reads
// them (nan, inf, -0, 1e20); empty lines and lines starting with '#' are comments.
std::vector<std::vector<float>> readTable(const std::string& dir, const std::string& name);

} // namespace rows
