// A registry of installed plug-ins, keyed by their names. It never owns or deletes them.
#ifndef KEL_PLUGIN_PORTAL_H
#define KEL_PLUGIN_PORTAL_H

#include <map>
#include <string>

namespace kel {
namespace plugin {

template <typename T>
class Portal {
public:
    typedef std::map<std::string, T*> PluginMap;

    virtual ~Portal() {}

    // Files P under its name, replacing whatever was filed there.
    virtual void Install(T* p)
    {
        if (p != nullptr) {
            plugins[p->ContentType()] = p;
        }
    }

    // Removes the entry filed under P's name, if any; P itself is left alone.
    virtual void Uninstall(T* p)
    {
        if (p != nullptr) {
            plugins.erase(p->ContentType());
        }
    }

    // True when NAME is filed, whatever plug-in (possibly none) it names.
    bool HasPlugin(const std::string& name) const { return plugins.find(name) != plugins.end(); }

    T* GetPlugin(const std::string& name) const
    {
        typename PluginMap::const_iterator it = plugins.find(name);
        return it != plugins.end() ? it->second : nullptr;
    }

    PluginMap& GetPluginMap() { return plugins; }

protected:
    PluginMap plugins;
};

}  // namespace plugin
}  // namespace kel

#endif
