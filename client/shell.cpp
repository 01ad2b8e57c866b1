#include "client/shell.h"

#include <array>
#include <chrono>
#include <stdexcept>
#include <utility>

#include "common/eventlog.h"
#include "common/messages.h"

namespace tovi::client {

namespace {

// The functions offered to the page get a null context: they reach the shell through this.
Shell* current = nullptr;
ui::Application* currentApp = nullptr;
const EngineApi* currentEngine = nullptr;

// Catch barrier of every engine callback: no exception crosses into the engine. An error becomes
// pending on the UI thread; the loop then ends the client with the unhandled-error report.
template <typename Fn>
void barrier(Fn&& fn) noexcept {
    if (!current || currentApp->failed()) return;
    try {
        fn();
    } catch (...) {
        currentApp->fail(std::current_exception());
    }
}

std::string copyText(const char* text) { return text ? std::string(text) : std::string(); }

// Argument 0 of a call from the page, copied at once (the engine owns the text).
std::string argumentText(jsExecState state) {
    return copyText(currentEngine->jsToString(state, currentEngine->jsArg(state, 0)));
}

void TOVI_ENGINE_CALL documentReady(wkeWebView, void* context) {
    barrier([&] { static_cast<Shell*>(context)->onDocumentReady(); });
}

void TOVI_ENGINE_CALL titleChanged(wkeWebView view, void* context, wkeString) {
    barrier([&] { static_cast<Shell*>(context)->onTitleChanged(view); });
}

void TOVI_ENGINE_CALL scriptDone(wkeWebView, void* context, int ran, const char* origin) {
    barrier([&] { static_cast<Shell*>(context)->onScriptDone(ran, origin); });
}

// The page's window functions: each calls one method of the shell.
template <void (Shell::*Method)()>
jsValue TOVI_ENGINE_CALL jsWindowCall(jsExecState, void*) {
    barrier([] { (current->*Method)(); });
    return 0;
}

// The page's device functions: the function's name (the request's kind in boxes and the log) and
// how its argument becomes a command.
template <const char* Name, DeviceCommand (*Build)(std::string_view)>
jsValue TOVI_ENGINE_CALL jsDeviceCall(jsExecState state, void*) {
    barrier([&] { current->deviceRequest(Name, argumentText(state), Build); });
    return 0;
}

DeviceCommand receipt(std::string_view json) { return printRequest(PrintKind::Receipt, json); }
DeviceCommand settlement(std::string_view json) { return printRequest(PrintKind::Settlement, json); }
constexpr char kPrint[] = "toviPrint";
constexpr char kRijie[] = "toviRijie";
constexpr char kOpencash[] = "toviOpencash";
constexpr char kDisplay[] = "toviDisplay";
constexpr char kPrintRaw[] = "toviPrintRaw";

struct PageFunction {
    const char* name;
    jsNativeFunction function;
};
constexpr PageFunction kPageFunctions[] = {
    {"toviWinMin", jsWindowCall<&Shell::winMin>},
    {"toviWinMax", jsWindowCall<&Shell::winMax>},
    {"toviWinClose", jsWindowCall<&Shell::winClose>},
    {"toviScreenfull", jsWindowCall<&Shell::screenfull>},
    {kPrint, jsDeviceCall<kPrint, receipt>},
    {kRijie, jsDeviceCall<kRijie, settlement>},
    {kOpencash, jsDeviceCall<kOpencash, opencashRequest>},
    {kDisplay, jsDeviceCall<kDisplay, displayRequest>},
    {kPrintRaw, jsDeviceCall<kPrintRaw, printRawRequest>},
    {kDeviceStatusFunction, jsDeviceCall<kDeviceStatusFunction, statusRequest>},
};

// What the engine binds for entry I of the table: a call from a document of an untrusted origin
// ends here, before its argument is read or anything is written or started, and without a box
// (a hostile frame must not be able to stack boxes in front of the cashier).
template <std::size_t I>
jsValue TOVI_ENGINE_CALL jsCheckedCall(jsExecState state, void* context) {
    bool admitted = false;
    barrier([&] { admitted = current->admitsCaller(state, kPageFunctions[I].name); });
    return admitted ? kPageFunctions[I].function(state, context) : 0;
}

template <std::size_t... I>
constexpr std::array<jsNativeFunction, sizeof...(I)> checkedFunctions(std::index_sequence<I...>) {
    return {jsCheckedCall<I>...};
}
// One checked function for every entry, so that an entry added to the table is checked too.
constexpr auto kCheckedFunctions = checkedFunctions(std::make_index_sequence<std::size(kPageFunctions)>{});

}  // namespace

Shell::Shell(ui::Application& app, const EngineApi& engine, DeviceHost& devices,
             std::function<void(const std::string&)> showProblem, std::function<void(const FinishedRequest&)> onFinished)
    : app_(app),
      engine_(engine),
      devices_(devices),
      showProblem_(std::move(showProblem)),
      onFinished_(std::move(onFinished)),
      queue_(devices_, kDeviceQueueBound, [this](const FinishedRequest& f) { requestFinished(f); }) {}

Shell::~Shell() {
    if (current == this) {
        current = nullptr;
        currentApp = nullptr;
        currentEngine = nullptr;
    }
}

void Shell::create(const std::function<std::string()>& readStartUrl) {
    if (current) throw std::logic_error("the client shell exists already");
    current = this;
    currentApp = &app_;
    currentEngine = &engine_;

    ui::FrameOptions frame;
    frame.bounds = {0, 0, kMainWidth, kMainHeight};
    frame.style.popup = true;
    frame.style.border = true;
    frame.style.systemMenu = true;
    mainFrame_ = app_.createFrame(frame);
    mainFrame_->setClipChildren(true);
    mainFrame_->centre(true, true);
    postTarget_ = mainFrame_->handle();

    engine_.wkeInitialize();
    webView_ = engine_.wkeCreateWebWindow(WKE_WINDOW_TYPE_CONTROL, mainFrame_->handle(), 0, 0, kMainWidth, kMainHeight);
    const std::string url = readStartUrl();
    engine_.wkeLoadURL(webView_, url.c_str());
    engine_.wkeSetCspCheckEnable(webView_, 0);
    engine_.wkeShowWindow(webView_, 0);

    // Focus given to the main window goes on into the page.
    mainFrame_->on(ui::Event::Focus, [this](const ui::EventArgs&) {
        if (!viewDestroyed_) engine_.wkeSetFocus(webView_);
    });
    mainFrame_->on(ui::Event::AppMessage, [this](const ui::EventArgs& args) {
        if (args.message == kCloseRequestMessage) winClose();
    });
    mainFrame_->on(ui::Event::Timer, [this](const ui::EventArgs& args) {
        if (args.first != kProofTimerId) return;
        mainFrame_->stopTimer(kProofTimerId);
        onLoopMinute();
    });
    engine_.wkeOnDocumentReady(webView_, documentReady, this);
    engine_.wkeOnTitleChanged(webView_, titleChanged, this);

    // One argument each; a null context (the functions reach the shell through `current`).
    for (std::size_t i = 0; i < std::size(kPageFunctions); ++i) {
        engine_.wkeJsBindFunction(kPageFunctions[i].name, kCheckedFunctions[i], nullptr, 1);
    }
    // An engine that runs scripts gets every request's result into the page.
    if (engine_.wkeRunScript && engine_.wkeOnScriptDone) {
        PageResults::Engine page{[this](const std::string& origin, const std::string& script) {
                                     if (!viewDestroyed_) engine_.wkeRunScript(webView_, origin.c_str(), script.c_str());
                                 },
                                 [this](const std::string& origin) { return trustsDocument(origin); },
                                 [](const std::string& text) { logEvent(text); }};
        results_ = std::make_unique<PageResults>(std::move(page), originOfAddress(url));
        engine_.wkeOnScriptDone(webView_, scriptDone, this);
    }
    // The engine is bound: from here the loop's minute counts towards the release's proof.
    mainFrame_->startTimer(kProofTimerId, kProofAfterMs);
}

bool Shell::trustsDocument(const std::string& origin) {
    // The origin that the start address reached through redirects is known once the first
    // document has committed, and asked for only when an origin is not trusted already.
    if (!origins_.trusts(origin) && engine_.wkeGetStartOrigin && !viewDestroyed_) {
        origins_.addTrusted(copyText(engine_.wkeGetStartOrigin(webView_)));
    }
    return origins_.trusts(origin);
}

bool Shell::admitsCaller(jsExecState state, const char* function) {
    // An engine that cannot name the caller: every frame reaches the functions (start-up says so).
    if (!engine_.jsCallerOrigin) return true;
    const std::string caller = copyText(engine_.jsCallerOrigin(state));
    trustsDocument(caller);
    return origins_.admit(function, caller);
}

void Shell::onScriptDone(int ran, const char* origin) {
    if (results_) results_->scriptDone(ran != 0, origin);
}

// Runs on every ready document, not only the first: a later one shows the window again.
void Shell::onDocumentReady() {
    pageReady_ = true;
    if (updateCheckDone_) revealMainWindow();
    checkProven();
    if (results_) results_->documentReady();
}

void Shell::onLoopMinute() {
    loopMinute_ = true;
    checkProven();
}

void Shell::checkProven() {
    if (provenReported_ || !checkCompleted_ || !(pageReady_ || loopMinute_)) return;
    provenReported_ = true;
    if (onProven_) onProven_();
}

void Shell::onUpdateCheckDone(ui::Window& updateWindow, bool completed) {
    updateCheckDone_ = true;
    checkCompleted_ = completed;
    updateWindow_ = &updateWindow;
    // A page that closed its window before it was ready never will be: the reveal then only
    // closes the update window, which ends the loop instead of leaving the splash up for good.
    if (pageReady_ || mainFrameGone()) revealMainWindow();
    checkProven();
}

bool Shell::mainFrameGone() const { return viewDestroyed_ || !mainFrame_->alive(); }

void Shell::revealMainWindow() {
    if (updateWindow_ && updateWindow_->alive()) updateWindow_->close();
    // The page may have closed the window and its view before the check ended: nothing to show.
    if (mainFrameGone()) return;
    mainFrame_->show(ui::ShowCommand::Normal);
    mainFrame_->focus();
    engine_.wkeShowWindow(webView_, 1);
    engine_.wkeSetFocus(webView_);
}

void Shell::onTitleChanged(wkeWebView view) {
    // The title argument is ignored: the view's current title is the one to show.
    const std::string title = copyText(engine_.wkeGetTitle(view));
    mainFrame_->setText(title);
}

void Shell::winMin() {
    if (mainFrame_->alive() && mainFrame_->visible()) mainFrame_->show(ui::ShowCommand::Minimize);
}

void Shell::winMax() {
    if (mainFrame_->alive() && mainFrame_->visible()) mainFrame_->show(ui::ShowCommand::Maximize);
}

void Shell::winClose() {
    if (!viewDestroyed_) {
        viewDestroyed_ = true;
        engine_.wkeDestroyWebWindow(webView_);
    }
    mainFrame_->close();
    // Closed after the check but before the page was ready: the update window waits for nothing.
    if (updateCheckDone_) revealMainWindow();
}

void Shell::screenfull() {
    const ui::Size screen = app_.screenSize();
    if (!viewDestroyed_) engine_.wkeResize(webView_, screen.width, screen.height);
    mainFrame_->setBounds({0, 0, screen.width, screen.height});
}

void Shell::deviceRequest(const char* kind, const std::string& argument, DeviceCommand (*build)(std::string_view)) {
    RequestOptions options;
    std::uint64_t ticket = 0;
    if (results_) {
        options = readOptions(argument);
        ticket = results_->open(options.id, kind);
    }
    DeviceCommand command;
    try {
        if (!options.problem.empty()) throw RequestError(options.problem, "ValueError");
        command = build(argument);
    } catch (const RequestError& e) {
        // Refused: nothing written, nothing started; the sale goes on.
        refuse(kind, ticket, options, "BAD_REQUEST", e.what(), e.kind());
        return;
    }
    DeviceRequest request{kind, std::move(command)};
    if (results_) {
        request.ticket = ticket;
        request.id = options.id;
        request.tellOutcome = true;
        request.pageReports = options.pageReports;
        if (options.expireMs) {
            request.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(*options.expireMs);
        }
    }
    if (!queue_.submit(std::move(request))) {
        refuse(kind, ticket, options, "QUEUE_FULL",
               "too many device requests waiting (" + std::to_string(kDeviceQueueBound) + ")", "OverflowError");
    }
}

void Shell::refuse(const char* kind, std::uint64_t ticket, const RequestOptions& options, const std::string& code,
                   const std::string& message, const std::string& errorKind) {
    if (results_) {
        FinishedRequest f;
        f.kind = kind;
        f.ticket = ticket;
        f.id = options.id;
        f.tellOutcome = true;
        f.pageReports = options.pageReports;
        f.refusal = code;
        f.problem = message;
        f.problemKind = errorKind;
        if (onFinished_) onFinished_(f);
        // Before the box, whose loop may run long: the page hears of it at once.
        results_->close(ticket, resultOf(f));
        if (options.pageReports) return;
    }
    showProblem_(problemText(message, errorKind));
}

void Shell::requestFinished(const FinishedRequest& finished) {
    if (onFinished_) onFinished_(finished);
    const bool box = !finished.problem.empty() && !(finished.tellOutcome && finished.pageReports);
    if (!box && !finished.tellOutcome) return;
    // The box is shown and the result closed on the UI thread. With the main window gone (the
    // queue is being worked off at exit) there is no box to show: the line on standard error is
    // all that is left.
    const std::string text = box ? problemText(finished.problem, finished.problemKind) : std::string();
    const std::optional<Result> result = finished.tellOutcome ? std::optional(resultOf(finished)) : std::nullopt;
    const std::uint64_t ticket = finished.ticket;
    const bool posted = ui::post(postTarget_.load(), [this, text, result, ticket] {
        if (result && results_) results_->close(ticket, *result);
        if (!text.empty()) showProblem_(text);
    });
    if (!posted && box) logErrorMessage("系统提示", text);
}

}  // namespace tovi::client
