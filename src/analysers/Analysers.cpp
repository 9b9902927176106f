#include "analysers/AnalyserContext.h"

namespace halyard {

const AnalyserTable& Analysers() {
    static const AnalyserTable table{};
    return table;
}

} // namespace halyard
