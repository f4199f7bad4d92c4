#include "message/internal/ixPartContent.h"

namespace ix {

void TixPartContent::ShareLines(TixBodyDataStream& AData)
{
    int32_t first = 0;
    int32_t count = 0;
    if (!AData.GetSingleRun(first, count))
        throw EStreamError("Body data is not one run of lines");
    FSource = AData.GetSource();
    FFirst = first;
    FCount = count;
    FSize = AData.GetSize();
    FShared = true;
    FView.reset();
    FBytes.SetSize(0);
}

bool TixPartContent::GetLines(const TStrings*& ASource, int32_t& AFirst, int32_t& ACount) const noexcept
{
    if (!FShared)
        return false;
    int64_t fullSize = 0;
    for (int32_t i = 0; i < FCount; ++i)
        fullSize += static_cast<int64_t>(FSource->GetView(FFirst + i).size()) + 2;
    int32_t count = FCount;
    if (FSize == fullSize - 2) {
        // Without the line break of its last line, the data reads back as one final empty
        // line less.
        if (count > 0 && FSource->GetView(FFirst + count - 1).empty())
            --count;
    } else if (FSize != fullSize) {
        return false; // cut inside a line: only the bytes tell
    }
    ASource = FSource;
    AFirst = FFirst;
    ACount = count;
    return true;
}

TixBodyDataStream& TixPartContent::View()
{
    if (!FView) {
        FView = std::make_unique<TixBodyDataStream>();
        FView->Reset(*FSource);
        for (int32_t i = 0; i < FCount; ++i)
            FView->AddLine(FFirst + i);
        FView->SetSize(FSize);
        FView->Seek(0, soBeginning);
    }
    return *FView;
}

void TixPartContent::OwnBytes()
{
    if (!FShared)
        return;
    TixBodyDataStream& view = View();
    const int64_t position = view.Seek(0, soCurrent);
    view.Seek(0, soBeginning);
    FBytes.SetSize(0);
    FBytes.CopyFrom(view, 0);
    FBytes.Seek(position, soBeginning);
    FShared = false;
    FView.reset();
}

int64_t TixPartContent::Read(void* ABuffer, int64_t ACount)
{
    return FShared ? View().Read(ABuffer, ACount) : FBytes.Read(ABuffer, ACount);
}

int64_t TixPartContent::Write(const void* ABuffer, int64_t ACount)
{
    OwnBytes();
    return FBytes.Write(ABuffer, ACount);
}

int64_t TixPartContent::Seek(int64_t AOffset, TSeekOrigin AOrigin)
{
    return FShared ? View().Seek(AOffset, AOrigin) : FBytes.Seek(AOffset, AOrigin);
}

int64_t TixPartContent::GetSize()
{
    return FShared ? FSize : FBytes.GetSize();
}

void TixPartContent::SetSize(int64_t ANewSize)
{
    if (FShared && ANewSize <= FSize) {
        FSize = ANewSize;
        if (FView)
            FView->SetSize(ANewSize);
        return;
    }
    OwnBytes();
    FBytes.SetSize(ANewSize);
}

} // namespace ix
