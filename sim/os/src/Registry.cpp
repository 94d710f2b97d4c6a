#include "simos/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim::os
{
namespace
{

// ---- names ---------------------------------------------------------------------------------------------

bool equalNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool lessNoCase(const std::string& a, const std::string& b)
{
    const int c = ::strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

// Splits a key path at backslashes; empty components (doubled or edge backslashes) are dropped.
bool splitPath(const std::string& path, std::vector<std::string>& parts)
{
    parts.clear();
    std::string part;
    for (char c : path)
    {
        if (c == '\\')
        {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        }
        else
        {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    for (const std::string& p : parts)
        if (p.size() > reg::kMaxKeyNameLength)
            return false;
    return true;
}

// ---- the in-memory tree of one hive --------------------------------------------------------------------

struct Node
{
    std::string name;
    std::vector<RegistryValue> values;
    std::vector<std::unique_ptr<Node>> children; // kept in order of names ignoring case

    Node* child(const std::string& n) const
    {
        for (const auto& c : children)
            if (equalNoCase(c->name, n))
                return c.get();
        return nullptr;
    }

    Node* addChild(const std::string& n)
    {
        auto node = std::make_unique<Node>();
        node->name = n;
        auto at = std::lower_bound(children.begin(), children.end(), n,
                                   [](const std::unique_ptr<Node>& c, const std::string& key)
                                   { return lessNoCase(c->name, key); });
        return children.insert(at, std::move(node))->get();
    }

    RegistryValue* value(const std::string& n)
    {
        for (RegistryValue& v : values)
            if (equalNoCase(v.name, n))
                return &v;
        return nullptr;
    }
};

Node* findNode(Node& rootNode, const std::vector<std::string>& parts, std::string* canonical)
{
    Node* node = &rootNode;
    std::string path;
    for (const std::string& p : parts)
    {
        node = node->child(p);
        if (node == nullptr)
            return nullptr;
        if (!path.empty())
            path += '\\';
        path += node->name;
    }
    if (canonical != nullptr)
        *canonical = path;
    return node;
}

// ---- the hive file -------------------------------------------------------------------------------------
//
// A text file, one record per line:
//   strellis-registry 1
//   K :<path>                       a key (its path below the hive, components joined by backslashes)
//   V <type> :<name> <hex data>     a value of the key above
// Names and paths are escaped: '%', control characters, blanks and bytes above 0x7E as %XX.

std::string escape(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out = ":";
    for (unsigned char c : text)
    {
        if (c <= 0x20 || c >= 0x7F || c == '%')
        {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0xF];
        }
        else
        {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape(const std::string& text, std::string& out)
{
    out.clear();
    if (text.empty() || text[0] != ':')
        return false;
    for (size_t i = 1; i < text.size(); ++i)
    {
        if (text[i] != '%')
        {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int hi = hexDigit(text[i + 1]);
        const int lo = hexDigit(text[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool parseHex(const std::string& text, std::vector<uint8_t>& out)
{
    out.clear();
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2)
    {
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

const char* hiveFileName(Hive hive)
{
    switch (hive)
    {
    case Hive::ClassesRoot:
        return "HKEY_CLASSES_ROOT.reg";
    case Hive::LocalMachine:
        return "HKEY_LOCAL_MACHINE.reg";
    case Hive::CurrentUser:
        return "HKEY_CURRENT_USER.reg";
    }
    return "unknown.reg";
}

// A hive that was never written holds the key every Windows installation has there.
void seed(Hive hive, Node& rootNode)
{
    switch (hive)
    {
    case Hive::ClassesRoot:
        rootNode.addChild("CLSID");
        break;
    case Hive::LocalMachine:
        rootNode.addChild("SOFTWARE");
        break;
    case Hive::CurrentUser:
        rootNode.addChild("Software");
        break;
    }
}

bool readWholeFile(const std::string& path, std::string& text, bool& exists)
{
    text.clear();
    exists = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    exists = true;
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool loadHive(const std::string& root, Hive hive, Node& rootNode)
{
    rootNode = Node{};
    std::string text;
    bool exists = false;
    if (!readWholeFile(root + "/" + hiveFileName(hive), text, exists))
        return false;
    if (!exists)
    {
        seed(hive, rootNode);
        return true;
    }

    Node* current = nullptr;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size())
    {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first)
        {
            first = false;
            if (line != "strellis-registry 1")
                return false;
            continue;
        }
        if (line.empty())
            continue;
        if (line.compare(0, 2, "K ") == 0)
        {
            std::string path;
            std::vector<std::string> parts;
            if (!unescape(line.substr(2), path) || !splitPath(path, parts))
                return false;
            Node* node = &rootNode;
            for (const std::string& p : parts)
            {
                Node* c = node->child(p);
                node = c != nullptr ? c : node->addChild(p);
            }
            current = node;
        }
        else if (line.compare(0, 2, "V ") == 0 && current != nullptr)
        {
            const size_t a = line.find(' ', 2);
            const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
            if (b == std::string::npos)
                return false;
            RegistryValue v;
            v.type = static_cast<uint32_t>(std::strtoul(line.substr(2, a - 2).c_str(), nullptr, 10));
            if (!unescape(line.substr(a + 1, b - a - 1), v.name) || !parseHex(line.substr(b + 1), v.data))
                return false;
            current->values.push_back(std::move(v));
        }
        else
        {
            return false;
        }
    }
    return true;
}

void serialise(const Node& node, const std::string& path, std::string& out)
{
    static const char digits[] = "0123456789abcdef";
    if (!path.empty())
    {
        out += "K " + escape(path) + "\n";
        for (const RegistryValue& v : node.values)
        {
            out += "V " + std::to_string(v.type) + " " + escape(v.name) + " ";
            for (uint8_t b : v.data)
            {
                out += digits[b >> 4];
                out += digits[b & 0xF];
            }
            out += '\n';
        }
    }
    for (const auto& c : node.children)
        serialise(*c, path.empty() ? c->name : path + "\\" + c->name, out);
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the hive to a temporary file and renames it over the old one, so a reader never sees half a file.
bool saveHive(const std::string& root, Hive hive, const Node& rootNode)
{
    std::string text = "strellis-registry 1\n";
    serialise(rootNode, "", text);
    const std::string target = root + "/" + hiveFileName(hive);
    const std::string temp = target + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, text);
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0)
    {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool makeDirectories(const std::string& path)
{
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos)
    {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// The store's lock: shared for reading, exclusive for a read-modify-write. A root that does not exist yet
// is read as fresh hives without a lock (there is nothing to race with but its creation, which renames).
class StoreLock
{
public:
    StoreLock(const std::string& root, bool exclusive)
    {
        if (exclusive && !makeDirectories(root))
            return;
        fd_ = ::open((root + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
        {
            ok_ = !exclusive;
            return;
        }
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0)
        {
            if (errno != EINTR)
            {
                ::close(fd_);
                fd_ = -1;
                ok_ = !exclusive;
                return;
            }
        }
        ok_ = true;
    }
    ~StoreLock()
    {
        if (fd_ >= 0)
        {
            ::flock(fd_, LOCK_UN);
            ::close(fd_);
        }
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    bool ok_ = false;
};

// Runs a read-only operation on a freshly loaded hive.
template <typename F> int32_t withHive(const std::string& root, Hive hive, F&& f)
{
    StoreLock lock(root, false);
    Node rootNode;
    if (!lock.ok() || !loadHive(root, hive, rootNode))
        return reg::kFileNotFound;
    return f(rootNode);
}

// Runs a changing operation; f answers its result and sets changed when the hive must be written back.
template <typename F> int32_t modifyHive(const std::string& root, Hive hive, F&& f)
{
    StoreLock lock(root, true);
    Node rootNode;
    if (!lock.ok() || !loadHive(root, hive, rootNode))
        return reg::kCantWrite;
    bool changed = false;
    const int32_t result = f(rootNode, changed);
    if (changed && !saveHive(root, hive, rootNode))
        return reg::kCantWrite;
    return result;
}

} // namespace

const char* hiveName(Hive hive)
{
    switch (hive)
    {
    case Hive::ClassesRoot:
        return "HKEY_CLASSES_ROOT";
    case Hive::LocalMachine:
        return "HKEY_LOCAL_MACHINE";
    case Hive::CurrentUser:
        return "HKEY_CURRENT_USER";
    }
    return "";
}

bool parseHive(const std::string& text, Hive& out)
{
    if (equalNoCase(text, "HKEY_CLASSES_ROOT") || equalNoCase(text, "HKCR"))
        out = Hive::ClassesRoot;
    else if (equalNoCase(text, "HKEY_LOCAL_MACHINE") || equalNoCase(text, "HKLM"))
        out = Hive::LocalMachine;
    else if (equalNoCase(text, "HKEY_CURRENT_USER") || equalNoCase(text, "HKCU"))
        out = Hive::CurrentUser;
    else
        return false;
    return true;
}

bool parseKeyName(const std::string& text, Hive& hive, std::string& path)
{
    const size_t slash = text.find('\\');
    if (!parseHive(text.substr(0, slash), hive))
        return false;
    path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    return true;
}

std::string registryRoot()
{
    if (const char* dir = std::getenv("STRELLIS_REGISTRY"); dir != nullptr && *dir != '\0')
        return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return std::string(data) + "/strellis-registry";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
        return std::string(home) + "/.local/share/strellis-registry";
    return "/tmp/strellis-registry-" + std::to_string(::getuid());
}

int32_t RegistryStore::openKey(Hive hive, const std::string& path, std::string* canonical) const
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    return withHive(root_, hive,
                    [&](Node& rootNode)
                    { return findNode(rootNode, parts, canonical) ? reg::kSuccess : reg::kFileNotFound; });
}

int32_t RegistryStore::createKey(Hive hive, const std::string& path, std::string* canonical, bool* created)
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    return modifyHive(root_, hive,
                      [&](Node& rootNode, bool& changed)
                      {
                          Node* node = &rootNode;
                          std::string canon;
                          for (const std::string& p : parts)
                          {
                              Node* c = node->child(p);
                              if (c == nullptr)
                              {
                                  c = node->addChild(p);
                                  changed = true;
                              }
                              node = c;
                              if (!canon.empty())
                                  canon += '\\';
                              canon += node->name;
                          }
                          if (canonical != nullptr)
                              *canonical = canon;
                          if (created != nullptr)
                              *created = changed;
                          return reg::kSuccess;
                      });
}

int32_t RegistryStore::queryValue(Hive hive, const std::string& path, const std::string& name,
                                  RegistryValue& out) const
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    return withHive(root_, hive,
                    [&](Node& rootNode)
                    {
                        Node* node = findNode(rootNode, parts, nullptr);
                        if (node == nullptr)
                            return reg::kKeyDeleted;
                        const RegistryValue* v = node->value(name);
                        if (v == nullptr)
                            return reg::kFileNotFound;
                        out = *v;
                        return reg::kSuccess;
                    });
}

int32_t RegistryStore::setValue(Hive hive, const std::string& path, const std::string& name, uint32_t type,
                                const void* data, size_t size)
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts) || (data == nullptr && size != 0))
        return reg::kInvalidParameter;
    return modifyHive(root_, hive,
                      [&](Node& rootNode, bool& changed)
                      {
                          Node* node = findNode(rootNode, parts, nullptr);
                          if (node == nullptr)
                              return reg::kKeyDeleted;
                          RegistryValue* v = node->value(name);
                          if (v == nullptr)
                          {
                              node->values.push_back(RegistryValue{name, 0, {}});
                              v = &node->values.back();
                          }
                          v->type = type;
                          const auto* bytes = static_cast<const uint8_t*>(data);
                          v->data.assign(bytes, bytes + size);
                          changed = true;
                          return reg::kSuccess;
                      });
}

int32_t RegistryStore::deleteValue(Hive hive, const std::string& path, const std::string& name)
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    return modifyHive(root_, hive,
                      [&](Node& rootNode, bool& changed)
                      {
                          Node* node = findNode(rootNode, parts, nullptr);
                          if (node == nullptr)
                              return reg::kKeyDeleted;
                          for (auto it = node->values.begin(); it != node->values.end(); ++it)
                          {
                              if (equalNoCase(it->name, name))
                              {
                                  node->values.erase(it);
                                  changed = true;
                                  return reg::kSuccess;
                              }
                          }
                          return reg::kFileNotFound;
                      });
}

int32_t RegistryStore::enumSubKey(Hive hive, const std::string& path, uint32_t index, std::string& name) const
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    return withHive(root_, hive,
                    [&](Node& rootNode)
                    {
                        Node* node = findNode(rootNode, parts, nullptr);
                        if (node == nullptr)
                            return reg::kKeyDeleted;
                        if (index >= node->children.size())
                            return reg::kNoMoreItems;
                        name = node->children[index]->name;
                        return reg::kSuccess;
                    });
}

namespace
{

int32_t removeKey(Hive hive, const std::string& root, const std::string& path, bool wholeTree)
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    if (parts.empty())
        return reg::kAccessDenied;
    const std::string leaf = parts.back();
    parts.pop_back();
    return modifyHive(root, hive,
                      [&](Node& rootNode, bool& changed)
                      {
                          Node* parent = findNode(rootNode, parts, nullptr);
                          if (parent == nullptr)
                              return reg::kFileNotFound;
                          for (auto it = parent->children.begin(); it != parent->children.end(); ++it)
                          {
                              if (!equalNoCase((*it)->name, leaf))
                                  continue;
                              if (!wholeTree && !(*it)->children.empty())
                                  return reg::kAccessDenied;
                              parent->children.erase(it);
                              changed = true;
                              return reg::kSuccess;
                          }
                          return reg::kFileNotFound;
                      });
}

} // namespace

int32_t RegistryStore::deleteKey(Hive hive, const std::string& path)
{
    return removeKey(hive, root_, path, false);
}

int32_t RegistryStore::deleteTree(Hive hive, const std::string& path)
{
    return removeKey(hive, root_, path, true);
}

int32_t RegistryStore::listKey(Hive hive, const std::string& path, std::vector<RegistryValue>& values,
                               std::vector<std::string>& subKeys) const
{
    std::vector<std::string> parts;
    if (!splitPath(path, parts))
        return reg::kInvalidParameter;
    return withHive(root_, hive,
                    [&](Node& rootNode)
                    {
                        Node* node = findNode(rootNode, parts, nullptr);
                        if (node == nullptr)
                            return reg::kKeyDeleted;
                        values = node->values;
                        subKeys.clear();
                        for (const auto& c : node->children)
                            subKeys.push_back(c->name);
                        return reg::kSuccess;
                    });
}

} // namespace sim::os
