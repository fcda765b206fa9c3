#pragma once

#include <QByteArray>

#include <cstdint>

struct wl_registry;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;

// The compositor's clipboard-manager protocol: the one place that names its interfaces, so a
// protocol of the same shape can take its place beside it.
class DataControl
{
public:
    // An offer of the selection's data, valid until release().
    struct Offer;

    class Listener
    {
    public:
        virtual ~Listener() = default;
        // A new offer; its forms follow, then the event that says what it is an offer for.
        virtual void offerAnnounced(Offer* offer) = 0;
        virtual void offerForm(Offer* offer, const char* form) = 0;
        // The clipboard changed; offer is null when it was cleared.
        virtual void selectionChanged(Offer* offer) = 0;
        // An offer for the primary selection, which is not watched.
        virtual void otherSelection(Offer* offer) = 0;
        // The compositor withdrew the seat; nothing more will come.
        virtual void finished() = 0;
    };

    DataControl() = default;
    DataControl(const DataControl&) = delete;
    DataControl& operator=(const DataControl&) = delete;
    ~DataControl();

    static bool isManager(const char* interface);
    // Binds the registry's global when it is this protocol's manager.
    bool bind(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    bool isBound() const { return m_manager; }
    // Stops watching and lets the manager go, before the connection closes.
    void clear();

    // Starts hearing of the seat's selection; the compositor names the current one at once.
    void watch(wl_seat* seat, Listener* listener);
    // Hears no more; offers given out stay valid until released.
    void unwatch();
    bool isWatching() const { return m_device; }

    // Asks the offer's source to write its data in form to fd (which the caller closes).
    static void receive(Offer* offer, const QByteArray& form, int fd);
    static void release(Offer* offer);

private:
    zwlr_data_control_manager_v1* m_manager = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
};
