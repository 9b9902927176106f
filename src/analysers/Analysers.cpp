#include "analysers/AnalyserContext.h"
#include "analysers/DolbyDigital.h"
#include "analysers/Dts.h"
#include "analysers/H264.h"
#include "analysers/Lpcm.h"
#include "analysers/Mlp.h"
#include "analysers/Mpeg2Video.h"
#include "analysers/Vc1.h"

namespace halyard {

const AnalyserTable& Analysers() {
    static const AnalyserTable table = [] {
        AnalyserTable t;
        t.DolbyDigital = AnalyseDolbyDigital;
        t.Dts = AnalyseDts;
        t.Mlp = AnalyseMlp;
        t.Lpcm = AnalyseLpcm;
        t.Vc1 = AnalyseVc1;
        t.H264 = AnalyseH264;
        t.Mpeg2Video = AnalyseMpeg2Video;
        return t;
    }();
    return table;
}

} // namespace halyard
