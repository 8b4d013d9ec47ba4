// A control's accessible object: the system's own (CreateStdAccessibleObject)
// with its name replaced, served to WM_GETOBJECT. Every other question goes
// to the system's object unchanged.
#include "app/win32/AccessibleName.h"

#include <atomic>
#include <commctrl.h>
#include <oleacc.h>
#include <utility>

#include "app/win32/WindowText.h"

namespace {

constexpr UINT_PTR SubclassId = 0x4e414d45; // distinct from the controls' own subclasses
/// The window property that holds a named control's TNaming.
constexpr wchar_t NamingProperty[] = L"TftpLoaderAccessibleName";

/// What a control is named: the name, and how its text is given.
struct TNaming {
    std::wstring Name;
    TTextRole Text;
};

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

/// The system's accessible object of a control with another name.
class TNamedAccessible final : public IAccessible {
public:
    TNamedAccessible(IAccessible* system, HWND control, const TNaming& naming)
        : system_(system), control_(control), naming_(naming) {}
    TNamedAccessible(const TNamedAccessible&) = delete;
    TNamedAccessible& operator=(const TNamedAccessible&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        // Other interfaces (IEnumVARIANT of the children, say) are the system's.
        return system_->QueryInterface(id, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            system_->Release();
            delete this;
        }
        return left;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return system_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return system_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return system_->GetIDsOfNames(id, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument) override {
        return system_->Invoke(member, id, locale, flags, parameters, result, exception, argument);
    }

    // IAccessible: the name, and a label's text as its description, are this
    // object's; everything else is the system's.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child))
            return system_->get_accName(child, name);
        if (name == nullptr)
            return E_POINTER;
        *name = SysAllocString(naming_.Name.c_str());
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        if (!IsSelf(child) || naming_.Text != TTextRole::trDescription)
            return system_->get_accDescription(child, description);
        if (description == nullptr)
            return E_POINTER;
        *description = SysAllocString(WideText(WindowText(control_)).c_str());
        return *description != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return system_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        return system_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return system_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return system_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return system_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return system_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return system_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return system_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return system_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
        return system_->get_accFocus(child);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return system_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return system_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return system_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        return system_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return system_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override {
        return system_->accHitTest(left, top, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return system_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return system_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return system_->put_accValue(child, value);
    }

private:
    ~TNamedAccessible() = default;

    IAccessible* system_;
    HWND control_;
    TNaming naming_;
    std::atomic<ULONG> references_{1};
};

LRESULT CALLBACK NamedProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                UINT_PTR /*id*/, DWORD_PTR data) {
    auto* naming = reinterpret_cast<TNaming*>(data);
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
        IAccessible* system = nullptr;
        if (SUCCEEDED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                reinterpret_cast<void**>(&system)))) {
            auto* named = new TNamedAccessible(system, hwnd, *naming);
            const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, named);
            named->Release();
            return result;
        }
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &NamedProcedure, SubclassId);
        RemovePropW(hwnd, NamingProperty);
        delete naming;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace

void SetAccessibleName(HWND control, const std::string& name, TTextRole text) {
    // A control named before keeps its subclass and takes the new name.
    if (auto* naming = static_cast<TNaming*>(GetPropW(control, NamingProperty))) {
        *naming = {WideText(name), text};
        return;
    }
    auto* naming = new TNaming{WideText(name), text};
    SetPropW(control, NamingProperty, naming);
    SetWindowSubclass(control, &NamedProcedure, SubclassId, reinterpret_cast<DWORD_PTR>(naming));
}
