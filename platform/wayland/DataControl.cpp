#include "platform/wayland/DataControl.h"

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cstring>

struct DataControl::Offer
{
};

namespace
{
DataControl::Offer* offerOf(zwlr_data_control_offer_v1* offer)
{
    return reinterpret_cast<DataControl::Offer*>(offer);
}

zwlr_data_control_offer_v1* proxyOf(DataControl::Offer* offer)
{
    return reinterpret_cast<zwlr_data_control_offer_v1*>(offer);
}

DataControl::Listener* listenerOf(void* data)
{
    return static_cast<DataControl::Listener*>(data);
}

const zwlr_data_control_offer_v1_listener OfferEvents = {
    [](void* data, zwlr_data_control_offer_v1* offer, const char* form) {
        listenerOf(data)->offerForm(offerOf(offer), form);
    },
};

const zwlr_data_control_device_v1_listener DeviceEvents = {
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        zwlr_data_control_offer_v1_add_listener(offer, &OfferEvents, data);
        listenerOf(data)->offerAnnounced(offerOf(offer));
    },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        listenerOf(data)->selectionChanged(offer ? offerOf(offer) : nullptr);
    },
    [](void* data, zwlr_data_control_device_v1*) { listenerOf(data)->finished(); },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        if (offer) {
            listenerOf(data)->otherSelection(offerOf(offer));
        }
    },
};
} // namespace

DataControl::~DataControl()
{
    clear();
}

void DataControl::clear()
{
    unwatch();
    if (m_manager) {
        zwlr_data_control_manager_v1_destroy(m_manager);
        m_manager = nullptr;
    }
}

bool DataControl::isManager(const char* interface)
{
    return std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0;
}

bool DataControl::bind(wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    if (m_manager || !isManager(interface)) {
        return false;
    }
    // Version 2 adds the primary selection, which is told apart and left alone.
    m_manager = static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, std::min<uint32_t>(version, 2)));
    return m_manager;
}

void DataControl::watch(wl_seat* seat, Listener* listener)
{
    unwatch();
    m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, seat);
    zwlr_data_control_device_v1_add_listener(m_device, &DeviceEvents, listener);
}

void DataControl::unwatch()
{
    if (m_device) {
        zwlr_data_control_device_v1_destroy(m_device);
        m_device = nullptr;
    }
}

void DataControl::receive(Offer* offer, const QByteArray& form, int fd)
{
    zwlr_data_control_offer_v1_receive(proxyOf(offer), form.constData(), fd);
}

void DataControl::release(Offer* offer)
{
    zwlr_data_control_offer_v1_destroy(proxyOf(offer));
}
