#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace kestrove {

class WebState;

// A request as the routes see it, whoever parsed it.
struct WebRequest
{
    QByteArray method; // "GET", "POST", ...
    QString path;      // decoded, without the query
    QString query;     // after "?", still encoded
    QByteArray authorization;
    QByteArray body;
    bool loopback = false; // from the computer itself
    QByteArray host;       // the Host header; empty when there is none
    QByteArray origin;     // the Origin header a browser sends for another page's request
};

struct WebReply
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

// The buttons the page may press: the same operations the window's buttons call. A missing close
// means the observatory has nothing to close.
struct WebActions
{
    std::function<void()> stop;
    std::function<void()> close;
};

// Turns requests into replies: the page's files, the JSON of the survey's state and the two
// actions. Reading needs the token from anywhere but the computer itself; acting always needs it.
// Without the token a request must name this server (Host) and come from no other site's page
// (Origin): a page whose name was made to point here reads nothing.
class WebRoutes
{
public:
    // `hosts`: the names this server answers to besides localhost, 127.0.0.1 and ::1.
    WebRoutes(const WebState& state, QString token, WebActions actions, const QStringList& hosts = {});

    WebReply route(const WebRequest& request) const;

private:
    // /lightcurve.png?target=NAME&span=night|all: a star's plot.
    WebReply lightcurvePicture(const QString& query) const;

    const WebState& m_state;
    QString m_token;
    WebActions m_actions;
    QStringList m_hosts;
};

// N of "after=N" in a query; nothing when the query has none, or a value that is not a whole number
// of 0 or more.
std::optional<qint64> afterOf(const QString& query, bool& valid);
// True when the header is "Bearer <token>" with the token, compared in a time that does not tell
// how much of it matched.
bool tokenMatches(const QByteArray& authorization, const QString& token);
// The host of a Host header ("name:port", "[v6]:port") or an Origin ("scheme://host:port"), in
// lower case, without its port, brackets or a final dot; an address in its usual form.
QString hostNameOf(const QByteArray& header);
// A path that climbs out of the page's folder ("..") or holds a character no URL path does.
bool unsafePath(const QString& path);

} // namespace kestrove
