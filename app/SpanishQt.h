#pragma once

class QCoreApplication;

// Qt's own texts in Spanish (the buttons of the boxes, the file and folder dialogs), whatever the user's locale: the
// program speaks Spanish only. Dates and numbers that Qt shows follow Argentina's usage. Returns false when Qt's
// Spanish translations are not installed (the Debian package qt6-translations-l10n holds them).
bool useSpanish(QCoreApplication& app);
