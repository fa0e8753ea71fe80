#pragma once
// The document the reader fuzzers read into: it holds an event, so a refused input that
// touched it would show.

#include "document/document.h"

namespace tarrowin::fuzz {

inline const CTarrowinDoc& openDocument() {
    static const CTarrowinDoc doc = [] {
        CTarrowinDoc d;
        d.OnNewDocument();
        d.setTempo(123);
        d.setEndCounter(64);
        d.addCurrentSettingsAsEvent();
        return d;
    }();
    return doc;
}

// Whether `doc` is still exactly the open document.
inline bool isOpenDocument(const CTarrowinDoc& doc) {
    return doc.current() == openDocument().current() && doc.composition() == openDocument().composition() &&
           doc.reserved() == openDocument().reserved() && doc.tuning() == openDocument().tuning();
}

}  // namespace tarrowin::fuzz
