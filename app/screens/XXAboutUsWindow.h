// The about window (version, agreement, the maker's site) and the version window, which
// says that the program does not look for updates online.
#pragma once

#include <QWidget>

class XXAboutUsWindow : public QWidget {
    Q_OBJECT
public:
    explicit XXAboutUsWindow(QWidget *parent = nullptr);
    // "v" and the program's version.
    static QString versionText();
};

class XXCheckVersionWindow : public QWidget {
    Q_OBJECT
public:
    explicit XXCheckVersionWindow(QWidget *parent = nullptr);
};
