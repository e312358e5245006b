#include "stream/ObjectStream.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {

constexpr size_t MaxClassName = 63;

std::mutex registryLock;
std::map<std::string, StorableFactory>& registry() {
    static std::map<std::string, StorableFactory> classes;
    return classes;
}

} // namespace

void ObjectStreamWriter::WriteBytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + n);
}

void ObjectStreamReader::ReadBytes(void* out, size_t n) {
    if (n > Left()) throw EStreamError(StreamText::InvalidObjectStream);
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
}

uint8_t ObjectStreamReader::ReadU8() {
    uint8_t v;
    ReadBytes(&v, 1);
    return v;
}
int16_t ObjectStreamReader::ReadI16() {
    int16_t v;
    ReadBytes(&v, 2);
    return v;
}
int32_t ObjectStreamReader::ReadI32() {
    int32_t v;
    ReadBytes(&v, 4);
    return v;
}
float ObjectStreamReader::ReadF32() {
    float v;
    ReadBytes(&v, 4);
    return v;
}
double ObjectStreamReader::ReadF64() {
    double v;
    ReadBytes(&v, 8);
    return v;
}

std::string ObjectStreamReader::ReadString(size_t n) {
    if (n > Left()) throw EStreamError(StreamText::InvalidObjectStream);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
}

void RegisterStreamClass(const std::string& className, StorableFactory factory) {
    if (className.empty() || className.size() > MaxClassName) return;
    std::lock_guard guard(registryLock);
    registry()[className] = std::move(factory);
}

bool IsStreamClassRegistered(const std::string& className) {
    std::lock_guard guard(registryLock);
    return registry().count(className) != 0;
}

void WriteStoredObject(ObjectStreamWriter& out, const TMMStorable* object) {
    if (!object) throw EStreamError("Nil Source Class!");
    const std::string name = object->ClassName();
    if (name.size() > MaxClassName || !IsStreamClassRegistered(name))
        throw EStreamError("Source Class <" + name + "> not registered");
    out.WriteU8(static_cast<uint8_t>(name.size()));
    out.WriteBytes(name.data(), name.size());
    object->WriteToStream(out);
}

std::unique_ptr<TMMStorable> ReadStoredObject(ObjectStreamReader& in) {
    const size_t length = in.ReadU8();
    const std::string name = in.ReadString(length);
    StorableFactory factory;
    {
        std::lock_guard guard(registryLock);
        auto it = registry().find(name);
        if (it != registry().end()) factory = it->second;
    }
    if (!factory) throw EStreamError("Class <" + name + "> not registered");
    auto object = factory();
    object->ReadFromStream(in);
    return object;
}
