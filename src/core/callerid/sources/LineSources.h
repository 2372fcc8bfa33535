#pragma once

class LineSource;
class QObject;
struct CallerIdSettings;

// The line source the settings choose (nullptr for none).
LineSource *createLineSource(const CallerIdSettings &settings, QObject *parent);
