#pragma once

// Where `velmora monitor` puts what it shows on a terminal of a given size: a header that folds
// instead of running into the rows below it, and the joints folded into columns.

#include <cstddef>
#include <string>
#include <vector>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace tools {

/// The smallest terminal every model's joints fit on without leaving any out.
inline constexpr int kMonitorColumns = 60;
inline constexpr int kMonitorRows = 15;

struct MonitorLayout {
    /// The header's lines, "q quits" last; none wider than the terminal.
    std::vector<std::string> header;
    /// "joints (0..255)", with "+N more" when some joints have no cell.
    std::string jointsTitle;
    int jointsTitleRow = 0;
    /// Cells side by side; the first `shown` joints fill each column from the top, then the
    /// next. A cell is the label, the value and a bar.
    int jointColumns = 1;
    int jointRows = 0;
    int cellWidth = 0;
    int barWidth = 0;
    std::size_t shown = 0;
    std::size_t more = 0;
    /// The temperatures' first row; the faults and the fingertips follow the lines used.
    int lowerRow = 0;
    /// The most lines the temperatures and the faults may take.
    int temperatureLines = 1;
    int faultLines = 1;
    /// The last read's problem: the terminal's last row.
    int problemRow = 0;

    int cellRow(std::size_t joint) const;
    int cellColumn(std::size_t joint) const;
};

/// The view of `model`'s joints on a terminal of `columns` x `rows`; `headerParts` are the
/// header's pieces, the first the command, the model and the channel.
MonitorLayout layoutMonitor(VELMORA model, int columns, int rows,
                            const std::vector<std::string>& headerParts);

/// `prefix`, then the items separated by spaces, folded into lines of at most `width` columns;
/// when they need more than `maxLines` lines, the last ends in "+N more" instead.
std::vector<std::string> foldItems(const std::string& prefix, const std::vector<std::string>& items,
                                   int width, int maxLines);

}  // namespace tools
}  // namespace velmora
