#include "Screens/Test/TestScreenStates.h"
#include "SourceCommon/Renderer/UiState.h"

void setBackground(UiState* ui, Color colour) {
    ui->clearColor[0] = (u8)(colour & 0xFF);
    ui->clearColor[1] = (u8)((colour >> 8) & 0xFF);
    ui->clearColor[2] = (u8)((colour >> 16) & 0xFF);
}

f32 baseTextSize(const UiState* ui) {
    f32 shorter = ui->halfWidth < ui->halfHeight ? ui->halfWidth : ui->halfHeight;
    return shorter / 15 > 22 ? shorter / 15 : 22;
}
