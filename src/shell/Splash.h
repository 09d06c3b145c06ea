#pragma once

class QWidget;

// The start-up picture: a borderless window centred on the primary screen,
// with no task-bar button. One per process.
QWidget* ShowSplash(int bitmapId, bool visible);
void SetSplashVisible(bool visible);
void CloseSplash();
