// Tests of the mapping between TFTP error codes and failure classes, both
// directions. Packets on the wire are tested with the transfer.
#include <gtest/gtest.h>

#include <stdexcept>
#include <typeindex>

#include "runtime/Exception.h"
#include "tftp/IdTrivialFTPBase.h"

namespace {

std::type_index TypeOfRaised(std::uint16_t code, std::uint16_t* codeBack) {
    try {
        RaiseTFTPError(code, "text");
    } catch (const EIdTFTPException& e) {
        EXPECT_EQ(e.Message(), "text");
        *codeBack = TFTPErrorCodeOf(e);
        return typeid(e);
    }
    return typeid(void);
}

} // namespace

TEST(TFTPErrorCodes, EachCodeRaisesItsOwnClassAndMapsBack) {
    const struct {
        std::uint16_t code;
        std::type_index type;
        std::uint16_t back;
    } rows[] = {
        {0, typeid(EIdTFTPException), 0},
        {1, typeid(EIdTFTPFileNotFound), 1},
        {2, typeid(EIdTFTPAccessViolation), 2},
        {3, typeid(EIdTFTPAllocationExceeded), 3},
        {4, typeid(EIdTFTPIllegalOperation), 4},
        {5, typeid(EIdTFTPUnknownTransferID), 5},
        {6, typeid(EIdTFTPFileAlreadyExists), 6},
        {7, typeid(EIdTFTPNoSuchUser), 7},
        {8, typeid(EIdTFTPOptionNegotiationFailed), 8},
        {9, typeid(EIdTFTPException), 0},
        {65535, typeid(EIdTFTPException), 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        std::uint16_t back = 999;
        EXPECT_EQ(TypeOfRaised(r.code, &back), r.type);
        // A class derived from a sibling would map back to the sibling's code.
        EXPECT_EQ(back, r.back);
    }
}

TEST(TFTPErrorCodes, FailuresOutsideTheFamilyMapToZero) {
    EXPECT_EQ(TFTPErrorCodeOf(EReadError("read")), 0);
    EXPECT_EQ(TFTPErrorCodeOf(EConvertError("conv")), 0);
    EXPECT_EQ(TFTPErrorCodeOf(EIdException("net")), 0);
    EXPECT_EQ(TFTPErrorCodeOf(std::runtime_error("std")), 0);
}
