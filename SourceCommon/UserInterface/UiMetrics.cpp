#include "SourceCommon/UserInterface/UiMetrics.h"

UiMetrics computeUiMetrics(Rect window) {
    f32 w = (window.x1 - window.x0) / 2;
    f32 h = (window.y1 - window.y0) / 2;
    UiMetrics m;
    m.textHeight = (w < h ? w : h) / 17;
    if (22 * m.textHeight > w) m.textHeight = w / 22;
    if (!(m.textHeight >= 22)) m.textHeight = 22;
    m.buttonTextHeight = 1.3f * m.textHeight;
    m.margin = m.buttonTextHeight / 8;
    m.rowHeight = m.buttonTextHeight + 2 * m.margin;
    m.buttonHeight = 2 * m.buttonTextHeight + 2 * m.margin;
    return m;
}
