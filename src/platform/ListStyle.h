#pragma once

class QAbstractItemView;

// Rows alternate between a light blue band and white, the light blue band first.
void ApplyBandedRows(QAbstractItemView *view);
