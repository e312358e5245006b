#pragma once
// Storable objects and the byte streams that carry them ("EQU", "OBJ" lists, envelopes).
//
// Each storable class registers a factory under its class name (at most 63 characters). Writing
// an object writes its class name and then its fields; reading reads the name, creates an
// instance of the registered class and lets it read its fields. Every read is bounded by the
// bytes left, so a damaged stream raises EStreamError instead of reading past its end.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace StreamText {
inline constexpr const char* InvalidObjectStream = "Invalid Object stream";
} // namespace StreamText

class ObjectStreamWriter {
public:
    void WriteBytes(const void* data, size_t n);
    void WriteU8(uint8_t v) { WriteBytes(&v, 1); }
    void WriteI16(int16_t v) { WriteBytes(&v, 2); }
    void WriteI32(int32_t v) { WriteBytes(&v, 4); }
    void WriteF32(float v) { WriteBytes(&v, 4); }
    void WriteF64(double v) { WriteBytes(&v, 8); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

class ObjectStreamReader {
public:
    ObjectStreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit ObjectStreamReader(const std::vector<uint8_t>& bytes) : ObjectStreamReader(bytes.data(), bytes.size()) {}
    // Raises EStreamError "Invalid Object stream" when fewer than n bytes are left.
    void ReadBytes(void* out, size_t n);
    uint8_t ReadU8();
    int16_t ReadI16();
    int32_t ReadI32();
    float ReadF32();
    double ReadF64();
    std::string ReadString(size_t n);
    size_t Left() const { return size_ - pos_; }

private:
    template <typename T> T read();
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

class TMMStorable {
public:
    virtual ~TMMStorable() = default;
    virtual std::string ClassName() const = 0;
    virtual void WriteToStream(ObjectStreamWriter& out) const = 0;
    virtual void ReadFromStream(ObjectStreamReader& in) = 0;
};

using StorableFactory = std::function<std::unique_ptr<TMMStorable>()>;

// Registers (or replaces) the factory of a class; names longer than 63 characters are refused.
void RegisterStreamClass(const std::string& className, StorableFactory factory);
bool IsStreamClassRegistered(const std::string& className);

// Writes the class name (length byte + name) and the object. Raises EStreamError "Nil Source
// Class!" for null and "Source Class <%s> not registered" for unknown classes.
void WriteStoredObject(ObjectStreamWriter& out, const TMMStorable* object);
// Reads a class name and the object. Raises "Class <%s> not registered" for unknown names.
std::unique_ptr<TMMStorable> ReadStoredObject(ObjectStreamReader& in);
