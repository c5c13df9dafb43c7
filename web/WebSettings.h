#pragma once

#include <QString>
#include <QStringList>

namespace kestrove {

// [web] and [notify] of "observatory.ini": the web page is off unless a port is given.
struct WebSettings
{
    int port = 0; // 0: no web server
    QString bind = QStringLiteral("127.0.0.1");
    QString token; // needed for actions, and for reading from anywhere but the computer itself
    // Names besides its own addresses by which the page is opened, e.g. "observatory.example.org".
    QStringList hosts;
    // Run with the event in its environment and arguments; empty: none.
    QString notifyCommand;
};

// Reads them from "observatory.ini" in the folder; a missing file gives the defaults. A port that
// is no port throws HostError naming the key.
WebSettings readWebSettings(const QString& observatoryFolder);
// Keeps a token made for [web] in "observatory.ini".
void storeWebToken(const QString& observatoryFolder, const QString& token);

} // namespace kestrove
