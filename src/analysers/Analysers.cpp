#include "analysers/AnalyserContext.h"
#include "analysers/Dts.h"
#include "analysers/Vc1.h"

namespace halyard {

const AnalyserTable& Analysers() {
    static const AnalyserTable table = [] {
        AnalyserTable t;
        t.Dts = AnalyseDts;
        t.Vc1 = AnalyseVc1;
        return t;
    }();
    return table;
}

} // namespace halyard
