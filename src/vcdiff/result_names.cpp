// Names of the decoder's result codes, for diagnostics.
#include "vcdiff/decoder.h"

const char* decode_result_name(int code) {
    switch (code) {
    case DECODE_INPUT: return "DECODE_INPUT";
    case DECODE_OUTPUT: return "DECODE_OUTPUT";
    case DECODE_GETSRCBLK: return "DECODE_GETSRCBLK";
    case DECODE_GOTHEADER: return "DECODE_GOTHEADER";
    case DECODE_WINSTART: return "DECODE_WINSTART";
    case DECODE_WINFINISH: return "DECODE_WINFINISH";
    case DECODE_TOOFARBACK: return "DECODE_TOOFARBACK";
    case DECODE_INTERNAL: return "DECODE_INTERNAL";
    case DECODE_INVALID: return "DECODE_INVALID";
    case DECODE_INVALID_INPUT: return "DECODE_INVALID_INPUT";
    case DECODE_NOSECOND: return "DECODE_NOSECOND";
    case DECODE_UNIMPLEMENTED: return "DECODE_UNIMPLEMENTED";
    case DECODE_CHECKSUM_MISMATCH: return "DECODE_CHECKSUM_MISMATCH";
    case DECODE_OUT_OF_MEMORY: return "OUT_OF_MEMORY";
    default: return nullptr;
    }
}
