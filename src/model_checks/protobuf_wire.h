// Protobuf's wire format, read as protobuf's own parser reads it, for the
// module's look at ONNX bytes before the runtime reads them.
#ifndef TESSARINE_PROTOBUF_WIRE_H
#define TESSARINE_PROTOBUF_WIRE_H

#include <cstdint>
#include <string_view>

// Protobuf's own parser refuses messages nested deeper than this.
constexpr int kProtobufMaxNesting = 100;

struct WireField {
    uint32_t number = 0;
    uint32_t wire_type = 0;
    std::string_view bytes;  // the payload of a length-delimited field
    uint64_t varint = 0;     // the value of a varint field
};

// Reads protobuf wire format as protobuf's own parser does, so that whatever
// the runtime's reader takes is taken here too: a tag is at most five bytes
// of which the low 32 bits count, unknown fields of any number and unknown
// groups are skipped, and a tag of 0, a stray end-group tag or a length past
// the end fails the whole parse.
class WireReader {
public:
    explicit WireReader(std::string_view data) : data_(data) {}

    // False at the end of the data, or with `failed` set on malformed data.
    bool Next(WireField& field) {
        if (data_.empty() || failed) return false;
        uint32_t tag = 0;
        if (!Tag(tag)) return Fail();
        field.number = tag >> 3;
        field.wire_type = tag & 7;
        field.bytes = {};
        field.varint = 0;
        return Payload(field, 0);
    }

    bool failed = false;

private:
    bool Payload(WireField& field, int depth) {
        uint64_t length = 0;
        switch (field.wire_type) {
            case 0: return Varint(field.varint) || Fail();
            case 1: return Skip(8);
            case 5: return Skip(4);
            case 2:
                if (!Varint(length) || length > data_.size()) return Fail();
                field.bytes = data_.substr(0, length);
                return Skip(length);
            case 3: return Group(field.number, depth + 1);
            default: return Fail();  // an end-group tag outside its group; wire types 6 and 7
        }
    }
    bool Group(uint32_t number, int depth) {
        if (depth > kProtobufMaxNesting) return Fail();  // also bounds this recursion
        for (;;) {
            uint32_t tag = 0;
            if (!Tag(tag)) return Fail();
            if ((tag & 7) == 4) return (tag >> 3) == number || Fail();
            WireField inner{tag >> 3, tag & 7, {}, 0};
            if (!Payload(inner, depth)) return false;
        }
    }
    bool Tag(uint32_t& tag) {
        uint64_t value = 0;
        for (int i = 0; i < 5 && !data_.empty(); ++i) {
            const auto byte = static_cast<unsigned char>(data_.front());
            data_.remove_prefix(1);
            value |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
            if (!(byte & 0x80)) {
                tag = static_cast<uint32_t>(value);
                return tag != 0;
            }
        }
        return false;
    }
    bool Varint(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 70 && !data_.empty(); shift += 7) {
            const auto byte = static_cast<unsigned char>(data_.front());
            data_.remove_prefix(1);
            if (shift < 64) value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) return true;
        }
        return false;
    }
    bool Skip(uint64_t n) {
        if (n > data_.size()) return Fail();
        data_.remove_prefix(n);
        return true;
    }
    bool Fail() {
        failed = true;
        return false;
    }

    std::string_view data_;
};

#endif
