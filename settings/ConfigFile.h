#pragma once

#include "settings/SurveySettings.h"
#include "text/HostError.h"

#include <QString>

namespace kestrove {

// What was read of "config.ini" in a program folder.
struct ConfigRead
{
    // The file's values; defaults for those it lacks, or that come after a fault.
    SurveySettings settings;
    // The fault met, for the observer, once the file has been kept as "config.ini.bad"; empty when
    // the file was read whole (or is missing).
    QString fault;
};

// A fault in "config.ini" that could not be kept as "config.ini.bad": nothing may be saved over it.
class ConfigMustBeKept : public HostError
{
public:
    using HostError::HostError;
};

// Reads "config.ini": 33 values read by position, a fault keeping the values before it. Throws
// HostError when the file cannot be read, ConfigMustBeKept when it holds a fault and cannot be copied.
ConfigRead readConfigFile(const QString& programFolder);
// Replaces "config.ini" whole with the settings, in single-byte text with CR LF.
void writeConfigFile(const QString& programFolder, const SurveySettings& settings);

} // namespace kestrove
