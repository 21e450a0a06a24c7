// YDB_Contents: creation of the data object and the record framing.
#include "onl/ydbservice/yydb_contents.h"

#include "onl/ydbservice/upp_debservice.h"

YDB_Contents::~YDB_Contents() {
    m_pStream.reset();
    m_spCreated.reset();
    m_spData.reset();
}

bool YDB_Contents::createData(IYDB_Data* pData) {
    if (pData == nullptr) {
        m_spCreated.reset();
        if (FAILED(CoCreateInstance(CLSID_YDB_Data, nullptr, CLSCTX_ALL, IID_IYDB_Data,
                                    m_spCreated.put_void())) ||
            !m_spCreated) {
            m_spCreated.reset();
            return false;
        }
        m_spData = m_spCreated;
    } else {
        // Adds a reference.
        m_spData = platform::ComPtr<IYDB_Data>(pData);
    }
    m_pStream = std::make_unique<Gen_ExStream>(m_spData.get());
    return m_pStream->good();
}

bool YDB_Contents::openRecordJob(ULONG v1, ULONG v2, ULONG v3, ULONG v4, ULONG v5, uint16_t cmd,
                                 IYDB_Data* pData) {
    if (!createData(pData)) {
        return false;
    }
    if (m_spData->InitData(v1, v2, v3, v4, v5) != S_OK) {
        return false;
    }
    return beginRecord(cmd, nullptr, nullptr, 0);
}

bool YDB_Contents::beginRecord(uint16_t cmd, IYDB_Data* pData, Gen_ExStream* pStream,
                               uint16_t subCmd) {
    if (pData != nullptr && pStream == nullptr) {
        (void)createData(pData);
    }
    IYDB_Data* data = pData != nullptr && pStream != nullptr ? pData : m_spData.get();
    Gen_ExStream* stream = pStream != nullptr ? pStream : m_pStream.get();
    if (data == nullptr || stream == nullptr) {
        return false;
    }
    ++m_RecordCount;
    ULONG position = 0;
    if (FAILED(data->GetPosition(&position))) {
        return false;
    }
    m_LengthPos = position + 4;
    YDB_RecordHeader header;
    header.m_Cmd = cmd;
    header.m_SubCmd = subCmd;
    header.write(*stream);
    if (FAILED(data->GetPosition(&position))) {
        return false;
    }
    m_BodyPos = position;
    m_RecordItems = 0;
    m_RecordBytes = 0;
    m_CurCmd = cmd;
    return stream->good();
}

bool YDB_Contents::finishRecord(IYDB_Data* pData) {
    IYDB_Data* data = pData != nullptr ? pData : m_spData.get();
    if (data == nullptr) {
        return false;
    }
    Gen_ExStream stream(data);
    ULONG end = 0;
    // A position before the body (the data was cut or moved back) has no length to give.
    if (FAILED(data->GetPosition(&end)) || end < m_BodyPos) {
        return false;
    }
    ULONG ignored = 0;
    if (FAILED(data->Seek(m_LengthPos, 0, &ignored))) {
        return false;
    }
    stream << static_cast<uint32_t>(end - m_BodyPos);
    stream.commit();
    const bool back = SUCCEEDED(data->Seek(end, 0, &ignored));
    // A length that could not be written is a failed record, not a finished one.
    return back && stream.good();
}
