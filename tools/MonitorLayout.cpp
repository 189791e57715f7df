#include "MonitorLayout.h"

#include <algorithm>

#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

// " T1  128 " before a cell's bar.
constexpr int kCellLead = 9;
// A bar shorter than this says too little: fewer columns then.
constexpr int kShortestBar = 8;
constexpr int kWidestBar = 50;
constexpr char kPartGap[] = "   ";

std::vector<std::string> foldParts(const std::vector<std::string>& parts, int width) {
    const auto fit = [width](std::string text) {
        if (static_cast<int>(text.size()) > width)
            text.resize(static_cast<std::size_t>(std::max(width, 0)));
        return text;
    };
    std::vector<std::string> lines;
    for (const std::string& part : parts) {
        if (!lines.empty() &&
            static_cast<int>(lines.back().size() + std::size(kPartGap) - 1 + part.size()) <= width)
            lines.back() += kPartGap + part;
        else
            lines.push_back(fit(part));
    }
    return lines;
}

// The widest a reading of every joint can be: three digits each.
std::vector<std::string> widestValues(VELMORA model) {
    std::vector<std::string> items;
    const models::ModelInfo& m = models::info(model);
    for (std::size_t s = 0; s < m.slots; ++s) {
        if (m.carriesJoint(s))
            items.push_back(models::jointLabel(model, s) + "=100");
    }
    return items;
}

}  // namespace

int MonitorLayout::cellRow(std::size_t joint) const {
    return jointsTitleRow + 1 + static_cast<int>(joint % static_cast<std::size_t>(jointRows));
}

int MonitorLayout::cellColumn(std::size_t joint) const {
    return static_cast<int>(joint / static_cast<std::size_t>(jointRows)) * cellWidth;
}

MonitorLayout layoutMonitor(VELMORA model, int columns, int rows,
                            const std::vector<std::string>& headerParts) {
    MonitorLayout layout;
    layout.header = foldParts(headerParts, columns);
    layout.header.push_back("q quits");
    const int headerRows = static_cast<int>(layout.header.size());
    const std::size_t joints = widestValues(model).size();

    // The title, one line each of temperatures and faults, and the problem's row are always
    // there; the joints get what is left.
    const int free = std::max(0, rows - headerRows - 4);
    const int mostAcross = std::max(1, columns / (kCellLead + kShortestBar + 1));
    int across = 1;
    if (free > 0 && joints > 0)
        across = static_cast<int>((joints + static_cast<std::size_t>(free) - 1) /
                                  static_cast<std::size_t>(free));
    across = std::clamp(across, 1, mostAcross);
    layout.jointColumns = across;
    layout.shown = std::min(joints, static_cast<std::size_t>(across) * free);
    layout.more = joints - layout.shown;
    layout.jointRows = static_cast<int>((layout.shown + static_cast<std::size_t>(across) - 1) /
                                        static_cast<std::size_t>(across));
    if (across == 1) {
        layout.cellWidth = columns;
        layout.barWidth = std::max(10, std::min(columns - 16, kWidestBar));
    } else {
        layout.cellWidth = columns / across;
        layout.barWidth = std::min(kWidestBar, layout.cellWidth - kCellLead - 1);
    }
    layout.jointsTitle = "joints (0..255)";
    if (layout.more > 0)
        layout.jointsTitle += "  +" + std::to_string(layout.more) + " more";

    // Blank rows below the header and above the temperatures, where there is room for them.
    int spare = free - layout.jointRows;
    const int gapAbove = spare > 0 ? 1 : 0;
    spare -= gapAbove;
    const int gapBelow = spare > 0 ? 1 : 0;
    layout.jointsTitleRow = headerRows + gapAbove;
    layout.lowerRow = layout.jointsTitleRow + 1 + layout.jointRows + gapBelow;
    layout.problemRow = std::max(layout.lowerRow + 2, rows - 1);

    const int lowerLines = layout.problemRow - layout.lowerRow;
    const std::vector<std::string> widest = widestValues(model);
    const int temperatures =
        static_cast<int>(foldItems("temperatures (deg C): ", widest, columns, lowerLines).size());
    layout.temperatureLines = std::clamp(temperatures, 1, lowerLines - 1);
    const int faults = static_cast<int>(foldItems("faults: ", widest, columns, lowerLines).size());
    layout.faultLines = std::clamp(faults, 1, lowerLines - layout.temperatureLines);
    return layout;
}

std::vector<std::string> foldItems(const std::string& prefix, const std::vector<std::string>& items,
                                   int width, int maxLines) {
    // Each line's items, folded without a limit first.
    std::vector<std::vector<std::size_t>> lines(1);
    std::size_t used = prefix.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::size_t gap = lines.back().empty() ? 0 : 1;
        if (!lines.back().empty() && static_cast<int>(used + gap + items[i].size()) > width) {
            lines.emplace_back();
            used = 2;  // continuation lines are indented
            lines.back().push_back(i);
            used += items[i].size();
            continue;
        }
        lines.back().push_back(i);
        used += gap + items[i].size();
    }
    const auto text = [&](std::size_t line, std::size_t count) {
        std::string out = line == 0 ? prefix : "  ";
        for (std::size_t k = 0; k < count; ++k)
            out += (k == 0 ? "" : " ") + items[lines[line][k]];
        return out;
    };
    std::vector<std::string> out;
    const std::size_t limit = static_cast<std::size_t>(std::max(maxLines, 1));
    for (std::size_t l = 0; l < lines.size() && l < limit; ++l)
        out.push_back(text(l, lines[l].size()));
    if (lines.size() <= limit)
        return out;

    // Items come off the last line until the count of those left out fits after them.
    std::size_t shown = 0;
    for (std::size_t l = 0; l < limit; ++l)
        shown += lines[l].size();
    std::size_t keep = lines[limit - 1].size();
    std::string last;
    while (true) {
        const std::string more = "+" + std::to_string(items.size() - shown) + " more";
        last = text(limit - 1, keep);
        last += (keep == 0 ? "" : " ") + more;
        if (keep == 0 || static_cast<int>(last.size()) <= width)
            break;
        --keep;
        --shown;
    }
    out.back() = last;
    return out;
}

}  // namespace tools
}  // namespace velmora
