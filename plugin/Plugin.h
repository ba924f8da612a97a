// Base of every plug-in interface of the plug-in framework.
#ifndef KEL_PLUGIN_PLUGIN_H
#define KEL_PLUGIN_PLUGIN_H

#include <string>

namespace kel {
namespace plugin {

template <typename Interface>
class Plugin {
public:
    virtual ~Plugin() {}
    // The plug-in's name; a portal files the plug-in under it.
    virtual std::string ContentType() const = 0;
};

}  // namespace plugin
}  // namespace kel

#endif
