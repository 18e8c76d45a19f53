// The add-in object linked into the program: the server's object count, the
// seam for the control's picture, the data-advise holder, and the object's
// own interface while the property frame is up.
#include <gtest/gtest.h>

#include "driver/addin/ole_1c.h"
#include "driver/addin/vistel_server.h"
#include "driver/automation/dialog_host.h"
#include "tests/automation/vistel_fixture.h"

namespace mirelo {
namespace {

class LinkedAddinTest : public ::testing::Test {
 protected:
  test::ScratchRegistry registry;
};

TEST_F(LinkedAddinTest, EveryObjectCountsInTheServerForItsWholeLife) {
  long before = ComServer().ObjectCount();
  {
    ComPtr<IUnknown> object((new Tole1C())->identity());
    EXPECT_EQ(ComServer().ObjectCount(), before + 1);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    ComPtr<IUnknown> second((new Tole1C())->identity());
    EXPECT_EQ(ComServer().ObjectCount(), before + 2);
  }
  EXPECT_EQ(ComServer().ObjectCount(), before);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

class FakePicture : public IControlPicture {
 public:
  int calls = 0;
  TVistel* control = nullptr;
  HRESULT RenderMetafile(TVistel& c, const FORMATETC&, STGMEDIUM& medium) override {
    ++calls;
    control = &c;
    medium.tymed = TYMED_MFPICT;
    medium.hMetaFilePict = nullptr;
    medium.pUnkForRelease = nullptr;
    return S_OK;
  }
};

TEST_F(LinkedAddinTest, TheMetafileComesFromTheRegisteredPicture) {
  ComPtr<Tole1C> object(new Tole1C());
  ComPtr<IDataObject> data = ComPtr<IUnknown>(object->identity()).as<IDataObject>();
  ASSERT_TRUE(data);
  FakePicture picture;
  registerControlPicture(&picture);
  FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
  STGMEDIUM medium{};
  EXPECT_EQ(data->GetData(&format, &medium), S_OK);
  EXPECT_EQ(picture.calls, 1);
  EXPECT_EQ(picture.control, static_cast<TVistel*>(object.get()));
  EXPECT_EQ(medium.tymed, TYMED_MFPICT);
  format.tymed = TYMED_GDI;
  EXPECT_EQ(data->GetData(&format, &medium), DV_E_FORMATETC) << "only the metafile medium";
  EXPECT_EQ(picture.calls, 1);
  registerControlPicture(nullptr);
  format.tymed = TYMED_MFPICT | TYMED_HGLOBAL;
  EXPECT_EQ(data->GetData(&format, &medium), DV_E_FORMATETC);
}

class RecordingAdviseSink final : public ComObject<IAdviseSink> {
 public:
  std::vector<DWORD> media;
  void OnDataChange(FORMATETC*, STGMEDIUM* medium) override { media.push_back(medium->tymed); }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}
};

TEST_F(LinkedAddinTest, AdvisesGoToAHolderMadeOnFirstUse) {
  ComPtr<Tole1C> object(new Tole1C());
  ComPtr<IDataObject> data = ComPtr<IUnknown>(object->identity()).as<IDataObject>();
  ComPtr<RecordingAdviseSink> sink(new RecordingAdviseSink());
  FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
  DWORD first = 0, second = 0;
  EXPECT_EQ(data->DAdvise(&format, 0, sink.get(), &first), S_OK);
  EXPECT_EQ(data->DAdvise(&format, ADVF_PRIMEFIRST, sink.get(), &second), S_OK);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(sink->media, std::vector<DWORD>{TYMED_NULL}) << "primed once, without data";
  DWORD refused = 7;
  EXPECT_EQ(data->DAdvise(&format, 0, nullptr, &refused), E_INVALIDARG);
  EXPECT_EQ(refused, 0u);
  IEnumSTATDATA* advises = nullptr;
  EXPECT_EQ(data->EnumDAdvise(&advises), E_NOTIMPL) << "the holder's answer now";
  EXPECT_EQ(advises, nullptr);
  EXPECT_EQ(data->DUnadvise(second), S_OK);
  EXPECT_EQ(data->DUnadvise(second), OLE_E_NOCONNECTION);
  EXPECT_EQ(data->DUnadvise(first), S_OK);
}

TEST_F(LinkedAddinTest, DataAdviseHolderNotifiesAndForgetsOneShotSinks) {
  ComPtr<IDataAdviseHolder> holder;
  ASSERT_EQ(CreateDataAdviseHolder(holder.put()), S_OK);
  EXPECT_EQ(CreateDataAdviseHolder(nullptr), E_INVALIDARG);
  ComPtr<RecordingAdviseSink> steady(new RecordingAdviseSink()), once(new RecordingAdviseSink());
  FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
  DWORD a = 0, b = 0;
  ASSERT_EQ(holder->Advise(nullptr, &format, ADVF_NODATA, steady.get(), &a), S_OK);
  ASSERT_EQ(holder->Advise(nullptr, &format, ADVF_ONLYONCE, once.get(), &b), S_OK);
  EXPECT_EQ(holder->SendOnDataChange(nullptr, 0, 0), S_OK);
  EXPECT_EQ(holder->SendOnDataChange(nullptr, 0, 0), S_OK);
  EXPECT_EQ(steady->media.size(), 2u);
  EXPECT_EQ(once->media.size(), 1u);
  EXPECT_EQ(holder->Unadvise(b), OLE_E_NOCONNECTION) << "gone after its one call";
  EXPECT_EQ(holder->Unadvise(a), S_OK);
}

class FrameHost : public IDialogHost {
 public:
  ComPtr<IVistelControl> control;
  BYTE shownInside = 0xFF;
  std::vector<CLSID> pages;
  void ShowProperties(IVistel4&, std::span<const CLSID> declared) override {
    shownInside = control->GetPropertyFrameShown();
    pages.assign(declared.begin(), declared.end());
  }
  void ShowTables(IVistel4&) override {}
  void AboutBox(const char*, const char*) override {}
};

TEST_F(LinkedAddinTest, TheOwnInterfaceTellsWhileThePropertyFrameIsUp) {
  ComPtr<Tole1C> object(new Tole1C());
  FrameHost frames;
  frames.control = ComPtr<IUnknown>(object->identity()).as<IVistelControl>();
  ASSERT_TRUE(frames.control);
  registerDialogHost(&frames);
  LONG code = -1;
  EXPECT_EQ(object->ShowProperties(&code), S_OK);
  registerDialogHost(nullptr);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(frames.shownInside, 1);
  EXPECT_EQ(frames.pages, std::vector<CLSID>{CLASS_VistelPropertyPage})
      << "the one page the class declares";
  EXPECT_EQ(frames.control->GetPropertyFrameShown(), 0);
  frames.control = nullptr;
}

TEST_F(LinkedAddinTest, ContainersFindThePropertyNotificationsAndNoWindowWithoutTheDialogs) {
  ComPtr<Tole1C> object(new Tole1C());
  ComPtr<IUnknown> identity(object->identity());
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(identity.as<IConnectionPointContainer>()->FindConnectionPoint(IID_IPropertyNotifySink,
                                                                          point.put()),
            S_OK);
  ComPtr<IVistelWindow> window = identity.as<IVistelWindow>();
  ASSERT_TRUE(window);
  void* created = &created;
  EXPECT_EQ(window->CreateControlWindow(nullptr, &created), E_NOTIMPL);
  EXPECT_EQ(created, nullptr);
}

TEST_F(LinkedAddinTest, TheLinkedServerAnswersLikeTheLibrary) {
  EXPECT_EQ(VistelServer().ServerName(), "Addin");
  TComObjectFactory* factory = VistelServer().FindFactory(CLASS_Vistel);
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->ProgID(), "Addin.Vistel");
  EXPECT_THROW(VistelServer().AddFactory(factory->Info(), [] { return ComPtr<IUnknown>(); }),
               Exception);
}

}  // namespace
}  // namespace mirelo
