// The web routes on any request: the input is split at NUL bytes into method, path, query,
// Authorization and body, and the loopback flag is its first byte. Every reply is a 2xx or 4xx,
// nothing is done without the token, and what is read needs it from elsewhere.
#include "FuzzSupport.h"

#include "web/WebRoutes.h"
#include "web/WebState.h"

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Environment& env = fuzz::environment();
    static WebState state(env.view);
    static bool attached = false;
    if (!attached) {
        state.attach(*env.core);
        attached = true;
    }
    int actions = 0;
    static const QString token = QStringLiteral("t0ken");
    const WebRoutes routes(state, token, {[&] { ++actions; }, [&] { ++actions; }});

    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QList<QByteArray> parts = bytes.split('\0');
    const auto part = [&](int i) { return i < parts.size() ? parts[i] : QByteArray(); };
    WebRequest request;
    request.loopback = size > 0 && (data[0] & 1);
    request.method = part(0).mid(1);
    request.path = QString::fromUtf8(part(1));
    request.query = QString::fromUtf8(part(2));
    request.authorization = part(3);
    request.body = part(4);

    const WebReply reply = routes.route(request);
    FUZZ_CHECK((reply.status >= 200 && reply.status < 300) || (reply.status >= 400 && reply.status < 500),
               "a reply that is neither served nor refused");
    const bool authorized = tokenMatches(request.authorization, token);
    FUZZ_CHECK(actions == 0 || (authorized && request.method == "POST"), "an action without the token");
    if (reply.status == 200 && !request.loopback && !authorized)
        FUZZ_CHECK(!request.path.startsWith(QStringLiteral("/api/")),
                   "the survey's state read without the token");
    if (request.path.split(u'/').contains(QStringLiteral("..")))
        FUZZ_CHECK(reply.status == 400, "a climbing path served");
    bool valid = true;
    const std::optional<qint64> after = afterOf(request.query, valid);
    FUZZ_CHECK(!after || (valid && *after >= 0), "a negative after");
    return 0;
}
