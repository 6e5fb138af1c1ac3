// What a camera writes on standard error: a line when its state changes
// (connected, lost, refused) and remarks on its source (a sound decoder
// missing), never the same line again and again. A snapshot URL connects anew
// each second and a file without ranges is built anew at each end: their
// lines would otherwise come once a second for as long as the viewer runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kesmacap/card/SourceLife.h"

namespace kesmacap {

class NewsFilter {
  public:
    // The line for a step, if it is news and not the state line said last.
    // connected: the source's sizes, for a step into pictures; shown: the
    // source, masked.
    std::optional<std::string> lineFor(const SourceStep& step, const std::string& connected,
                                       const std::string& shown);
    // A remark, said once per start.
    bool remark(const std::string& line);
    // A start (F1): everything may be said again.
    void restart();

  private:
    // Remarks kept, at most: a source has few.
    static constexpr std::size_t MostRemarks = 16;
    std::string lastState_;
    std::vector<std::string> remarks_;
};

}  // namespace kesmacap
