#pragma once

class QWidget;

// Gives a window the desktop's general font (the one title bars and icon captions
// use), or the application font where the platform offers none.
void ApplyWindowFont(QWidget* window);
