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

template <typename T> T ObjectStreamReader::read() {
    T v;
    ReadBytes(&v, sizeof v);
    return v;
}

uint8_t ObjectStreamReader::ReadU8() { return read<uint8_t>(); }
int16_t ObjectStreamReader::ReadI16() { return read<int16_t>(); }
int32_t ObjectStreamReader::ReadI32() { return read<int32_t>(); }
float ObjectStreamReader::ReadF32() { return read<float>(); }
double ObjectStreamReader::ReadF64() { return read<double>(); }

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
