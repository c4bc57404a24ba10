#include "RecordCheck.h"

#include "SimulatedReadings.h"

bool CarriesAnswer(const MeterRecord& record, std::uint8_t station, std::uint32_t answer) {
    const SimulatedReadings::Words sent = SimulatedReadings::WordsOf(station, answer);
    for (int i = 0; i < MeterRecord::kWordCount; ++i)
        if (record.Word(i) != static_cast<float>(sent[i]))
            return false;
    return true;
}
