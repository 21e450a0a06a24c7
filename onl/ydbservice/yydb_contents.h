// YDB_Contents: owns the YDB data object that the component writes its records into, and frames
// each record with a YDB_RecordHeader whose length is patched when the record is closed.
#pragma once

#include <cstdint>
#include <memory>

#include "onl/ydbservice/gen_exstream.h"
#include "platform/com_ptr.h"
#include "ydb_data.h"

class YDB_Contents {
  public:
    YDB_Contents() = default;
    virtual ~YDB_Contents();
    YDB_Contents(const YDB_Contents&) = delete;
    YDB_Contents& operator=(const YDB_Contents&) = delete;

    // Uses pData, or a new data object of the YDB class when it is null, with a new stream over
    // it. False when no object could be created or the stream is bad.
    bool createData(IYDB_Data* pData);
    // createData, InitData with the five values, then beginRecord with the command.
    bool openRecordJob(ULONG v1, ULONG v2, ULONG v3, ULONG v4, ULONG v5, uint16_t cmd,
                       IYDB_Data* pData);
    // Writes a record header {cmd, subCmd, 0} and remembers where its length goes.
    bool beginRecord(uint16_t cmd, IYDB_Data* pData, Gen_ExStream* pStream, uint16_t subCmd = 0);
    // Patches the length of the record begun last with the bytes written since its header.
    bool finishRecord(IYDB_Data* pData);

    // Released after the stream that refers to them (members go in reverse order).
    platform::ComPtr<IYDB_Data> m_spData;
    platform::ComPtr<IYDB_Data> m_spCreated;
    std::unique_ptr<Gen_ExStream> m_pStream;
    uint32_t m_RecordCount = 0;
    uint32_t m_CurCmd = 0;
    uint32_t m_LengthPos = 0;
    uint32_t m_BodyPos = 0;
    // Counters of the record being written; cleared when a record begins.
    uint32_t m_RecordItems = 0;
    uint32_t m_RecordBytes = 0;
    int16_t m_CurBlock = -1;
    int16_t m_CurIndex = -1;
};
