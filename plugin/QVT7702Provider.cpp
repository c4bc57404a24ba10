#include "QVT7702Provider.h"

#include "QVT7702.h"

QVT7702Provider::~QVT7702Provider() = default;

SMDSPDevice* QVT7702Provider::create() const {
    return new QVT7702();
}
