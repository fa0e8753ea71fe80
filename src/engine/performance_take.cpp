#include "performance_take.h"

namespace tarrowin {

void PerformanceTake::replay(PerformanceSink& sink) const {
    for (const TakeEntry& e : entries) {
        switch (e.kind) {
            case TakeEntry::Kind::Begin: {
                GlobalSettings g;
                g.tempo = e.tempo;
                g.timeSigNumerator = e.timeSigNumerator;
                g.timeSigDenominator = e.timeSigDenominator;
                sink.eventBegins(0, g, e.date);
                break;
            }
            case TakeEntry::Kind::Message: sink.message(e.date, e.message); break;
            case TakeEntry::Kind::Tempo: sink.tempoChanges(e.date, e.tempo); break;
            case TakeEntry::Kind::End: sink.end(e.date); break;
        }
    }
}

}  // namespace tarrowin
