#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace kestrove::indi {

// The state of an INDI property, as the host needs it (INDI's IPState, without its headers).
enum class PropertyState
{
    Idle,
    Ok,
    Busy,
    Alert
};

// Safe only when the weather device is connected and its WEATHER_STATUS is Ok; Busy (warning),
// Alert, Idle (not known yet) and a lost device are unsafe.
bool weatherSafe(bool deviceConnected, std::optional<PropertyState> status);

// A commanded property (a slew, a filter move, an exposure) is done when it has gone Busy and then
// Ok. An update with the old state can arrive before Busy and must not count: not even an Alert
// left by an earlier command.
class CommandWatch
{
public:
    enum class Result
    {
        Pending,
        Done,
        Failed
    };
    // `before`: the property's state when the command was sent.
    void sent(PropertyState before = PropertyState::Idle)
    {
        m_seenBusy = false;
        m_before = before;
    }
    Result update(PropertyState state);
    bool seenBusy() const { return m_seenBusy; }

private:
    bool m_seenBusy = false;
    PropertyState m_before = PropertyState::Idle;
};

// A subframe centred on the chip: `fraction` of each axis, in unbinned pixels. A fraction outside
// (0, 1] takes the whole chip.
struct Frame
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
Frame centredFrame(int chipWidth, int chipHeight, double fraction);

// The 1-based slot whose name is `wanted` (exact, as the plan compares text); none when absent.
std::optional<int> filterSlot(const QStringList& slotNames, const QString& wanted);

// "host:port" or "host" (port 7624). None for an empty host or a port outside 1..65535.
struct ServerAddress
{
    QString host;
    int port = 7624;
};
std::optional<ServerAddress> parseServerAddress(const QString& text);

// Seconds a slew may take: its distance at the configured rate plus the margin.
double slewLimitSeconds(double distanceDegrees, double slewRate, double margin);

// Whether a slew between two hour angles (hours) crosses the upper meridian. A German mount then
// turns over, and its axes travel about half a turn more than the distance between the places.
bool crossesMeridian(double fromHourAngle, double toHourAngle);

// The filter a frame is taken through: the plan's; without one, the name of the slot the wheel
// stands at (1-based, as FILTER_SLOT counts); empty without either.
QString frameFilter(const QString& planFilter, const QStringList& slotNames, long slot);

// The name of image `image` (1-based) of a plan: target, UTC instant, filter, binning and number,
// with characters that are unsafe in a file name replaced. `attempt` 1 is the plain name; later
// attempts (the name was taken) add "-2", "-3", ... so that no file is ever overwritten.
QString imageFileName(const QString& target, const QString& filter, int binning, const QDateTime& utc,
                      int image, int attempt, const QString& extension);

// The file extension for a BLOB format (".fits", ".fits.fz", "fits"): with its leading point,
// ".fits" when empty.
QString blobExtension(const QString& format);

// True when the bytes begin like a FITS primary header.
bool looksLikeFits(const QByteArray& bytes);

} // namespace kestrove::indi
