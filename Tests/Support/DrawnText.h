// What a frame wrote as text, read back from its glyph quads: every glyph of the SDF batch is found
// in the font record by its atlas box, glyphs on one baseline are put in order by their pen
// position, a gap of about a space becomes a space and a wider gap starts a new run. Glyphs cut by
// their clip rectangle are read as '?'. Tests capture the batch after the update and before the
// renderer draws (and empties) it.
#pragma once
#include <string>
#include <vector>

#include "SourceCommon/Renderer/UiState.h"

struct TextRun {
    std::string text;
    f32 x0, x1;     // from the first glyph's pen to the last glyph's advance, window pixels
    f32 y0, y1;     // the glyphs' lowest and highest edge, window pixels, y up
    f32 baseline;
    f32 size;       // a space's width, pixels
};

// The runs of text in the UI state's SDF batch, from the top of the window down, left to right.
std::vector<TextRun> drawnTextRuns(const UiState* ui);

// The first run that contains the text (with exact set: that is the text), or null.
const TextRun* findTextRun(const std::vector<TextRun>& runs, const std::string& text, bool exact = false);
