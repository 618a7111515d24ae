// The one settings record of the run.
#include "control/log_settings.h"

LogSettings logSettings;
