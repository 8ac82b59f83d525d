#include "shell_config.h"

#include "customconfig.h"

namespace
{
// GUI thread only: whether this module has made the store since its release.
bool g_made = false;
} // namespace

QString shell_config_value(const QString &key)
{
    g_made = true;
    return CustomConfig::getInstance()->getValue(key);
}

void shell_config_set(const QString &key, const QString &value)
{
    g_made = true;
    CustomConfig::getInstance()->setValue(key, value);
}

void shell_config_release()
{
    // The store clears its instance pointer in its destructor, so nothing
    // hands out the deleted one.
    if (g_made)
        delete CustomConfig::getInstance();
    g_made = false;
}
