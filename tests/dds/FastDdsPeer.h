#pragma once

// A ROS 2 node's side of the wire, played by Fast DDS: a participant on loopback only that
// records what it discovers and what it receives, and publishes joint commands.

#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>
#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/domain/DomainParticipantListener.hpp>
#include <fastdds/dds/publisher/DataWriter.hpp>
#include <fastdds/dds/publisher/Publisher.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/DataReaderListener.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "RosMessagesPubSubTypes.h"

namespace velmora::testing {

namespace fdds = eprosima::fastdds::dds;
namespace rtps = eprosima::fastrtps::rtps;

using RosJointState = sensor_msgs::msg::dds_::JointState_;
using RosDiagnosticArray = diagnostic_msgs::msg::dds_::DiagnosticArray_;
using RosFloat64MultiArray = std_msgs::msg::dds_::Float64MultiArray_;
using RosJointTrajectory = trajectory_msgs::msg::dds_::JointTrajectory_;
using RosParticipantEntities = rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_;
using HumbleParticipantEntities = humble::rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_;

/// What the peer learnt of a remote writer or reader.
struct Endpoint {
    std::string topic;
    std::string type;
    bool reliable = false;
    bool transientLocal = false;
    std::string userData;
    /// The endpoint's GUID, as ROS keeps it in a GID.
    std::array<std::uint8_t, 16> guid{};
};

template <class Info>
Endpoint endpointOf(const Info& info) {
    Endpoint e{info.topicName().to_string(), info.typeName().to_string(),
               info.m_qos.m_reliability.kind == fdds::RELIABLE_RELIABILITY_QOS,
               info.m_qos.m_durability.kind != fdds::VOLATILE_DURABILITY_QOS,
               std::string(info.m_qos.m_userData.begin(), info.m_qos.m_userData.end())};
    const rtps::GUID_t& guid = info.guid();
    std::copy(guid.guidPrefix.value, guid.guidPrefix.value + 12, e.guid.begin());
    std::copy(guid.entityId.value, guid.entityId.value + 4, e.guid.begin() + 12);
    return e;
}

/// Samples of one topic, taken as they arrive.
template <class Message>
class Inbox : public fdds::DataReaderListener {
  public:
    void on_data_available(fdds::DataReader* reader) override {
        Message message;
        fdds::SampleInfo info;
        while (reader->take_next_sample(&message, &info) == ReturnCode_t::RETCODE_OK) {
            if (info.valid_data) {
                std::lock_guard<std::mutex> lock(mutex_);
                messages_.push_back(message);
            }
        }
    }

    std::vector<Message> messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

  protected:
    mutable std::mutex mutex_;

  private:
    std::vector<Message> messages_;
};

class FastDdsPeer : public fdds::DomainParticipantListener {
  public:
    /// Joins `domain` over UDP on 127.0.0.1 only: no shared memory, no multicast, the other
    /// participants found through unicast to the loopback address's well-known ports. With
    /// `anyInterface`, it listens on every interface, for participants that announce another
    /// address of this computer.
    explicit FastDdsPeer(std::uint32_t domain, bool anyInterface = false) {
        fdds::DomainParticipantQos qos;
        qos.name("velmora_test_peer");
        qos.transport().use_builtin_transports = false;
        auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
        if (!anyInterface)
            udp->interfaceWhiteList.push_back("127.0.0.1");
        qos.transport().user_transports.push_back(udp);
        rtps::Locator_t peer;
        peer.kind = LOCATOR_KIND_UDPv4;
        eprosima::fastrtps::rtps::IPLocator::setIPv4(peer, 127, 0, 0, 1);
        qos.wire_protocol().builtin.initialPeersList.push_back(peer);
        rtps::Locator_t unicast;
        unicast.kind = LOCATOR_KIND_UDPv4;
        eprosima::fastrtps::rtps::IPLocator::setIPv4(unicast, 127, 0, 0, 1);
        if (!anyInterface) {
            qos.wire_protocol().builtin.metatrafficUnicastLocatorList.push_back(unicast);
            qos.wire_protocol().default_unicast_locator_list.push_back(unicast);
        }

        participant_ = fdds::DomainParticipantFactory::get_instance()->create_participant(
            static_cast<fdds::DomainId_t>(domain), qos, this, fdds::StatusMask::none());
        if (!participant_)
            throw std::runtime_error("Fast DDS participant not created");
        jointStateType_.register_type(participant_);
        diagnosticsType_.register_type(participant_);
        arrayType_.register_type(participant_);
        trajectoryType_.register_type(participant_);
        publisher_ = participant_->create_publisher(fdds::PUBLISHER_QOS_DEFAULT);
        subscriber_ = participant_->create_subscriber(fdds::SUBSCRIBER_QOS_DEFAULT);
    }

    ~FastDdsPeer() override {
        participant_->delete_contained_entities();
        fdds::DomainParticipantFactory::get_instance()->delete_participant(participant_);
    }

    FastDdsPeer(const FastDdsPeer&) = delete;
    FastDdsPeer& operator=(const FastDdsPeer&) = delete;

    /// Subscribes to a JointState topic with sensor-data QoS (best effort, keep last 5).
    Inbox<RosJointState>& subscribeJointStates(const std::string& topic) {
        auto inbox = std::make_unique<Inbox<RosJointState>>();
        read(topic, jointStateType_.get_type_name(), false, *inbox);
        auto& result = *inbox;
        jointInboxes_.push_back(std::move(inbox));
        return result;
    }

    /// The same, delivering to a listener of the caller's.
    void subscribeJointStates(const std::string& topic, fdds::DataReaderListener& listener) {
        read(topic, jointStateType_.get_type_name(), false, listener);
    }

    /// Subscribes to a JointState topic as rclcpp's QoS(10) does: reliable, keep last 10.
    Inbox<RosJointState>& subscribeReliableJointStates(const std::string& topic) {
        auto inbox = std::make_unique<Inbox<RosJointState>>();
        read(topic, jointStateType_.get_type_name(), true, *inbox);
        auto& result = *inbox;
        jointInboxes_.push_back(std::move(inbox));
        return result;
    }

    /// Subscribes to ros_discovery_info as rmw does (reliable, transient local), in the
    /// layout of Jazzy or, with `humble`, of Humble.
    template <class Message>
    Inbox<Message>& subscribeGraph() {
        static_assert(std::is_same_v<Message, RosParticipantEntities> ||
                      std::is_same_v<Message, HumbleParticipantEntities>);
        constexpr bool humble = std::is_same_v<Message, HumbleParticipantEntities>;
        fdds::TypeSupport& type = humble ? humbleGraphType_ : graphType_;
        type->setName("rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_");
        type.register_type(participant_);
        fdds::DataReaderQos qos = fdds::DATAREADER_QOS_DEFAULT;
        qos.reliability().kind = fdds::RELIABLE_RELIABILITY_QOS;
        qos.durability().kind = fdds::TRANSIENT_LOCAL_DURABILITY_QOS;
        qos.history().kind = fdds::KEEP_LAST_HISTORY_QOS;
        qos.history().depth = 1;
        auto inbox = std::make_shared<Inbox<Message>>();
        subscriber_->create_datareader(topicOf("ros_discovery_info", type.get_type_name()), qos,
                                       inbox.get());
        graphInboxes_.push_back(inbox);
        return *inbox;
    }

    /// A writer as `ros2 topic pub` makes one: reliable (or best effort), volatile, keep last
    /// 10, of `Message` (JointState, Float64MultiArray or JointTrajectory).
    template <class Message>
    fdds::DataWriter* commandWriter(const std::string& topic, bool reliable = true) {
        fdds::DataWriterQos qos = fdds::DATAWRITER_QOS_DEFAULT;
        qos.reliability().kind =
            reliable ? fdds::RELIABLE_RELIABILITY_QOS : fdds::BEST_EFFORT_RELIABILITY_QOS;
        qos.durability().kind = fdds::VOLATILE_DURABILITY_QOS;
        qos.history().kind = fdds::KEEP_LAST_HISTORY_QOS;
        qos.history().depth = 10;
        const std::string type =
            std::is_same_v<Message, RosFloat64MultiArray> ? arrayType_.get_type_name()
            : std::is_same_v<Message, RosJointTrajectory> ? trajectoryType_.get_type_name()
                                                          : jointStateType_.get_type_name();
        return publisher_->create_datawriter(topicOf(topic, type), qos);
    }

    /// USER_DATA of every participant discovered, as text.
    std::vector<std::string> participantUserData() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return userData_;
    }
    /// GUIDs of the participants discovered.
    std::vector<std::array<std::uint8_t, 16>> participantGuids() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return participantGuids_;
    }

    /// Subscribes to rt/diagnostics, reliable, keep last 10.
    Inbox<RosDiagnosticArray>& subscribeDiagnostics() {
        read("rt/diagnostics", diagnosticsType_.get_type_name(), true, diagnostics_);
        return diagnostics_;
    }

    /// A reliable, volatile JointState writer, keep last 10, as `ros2 topic pub` makes.
    fdds::DataWriter* jointCommandWriter(const std::string& topic) {
        fdds::DataWriterQos qos = fdds::DATAWRITER_QOS_DEFAULT;
        qos.reliability().kind = fdds::RELIABLE_RELIABILITY_QOS;
        qos.durability().kind = fdds::VOLATILE_DURABILITY_QOS;
        qos.history().kind = fdds::KEEP_LAST_HISTORY_QOS;
        qos.history().depth = 10;
        return publisher_->create_datawriter(topicOf(topic, jointStateType_.get_type_name()), qos);
    }

    /// Remote writers and readers by topic name (the latest discovery of each).
    std::map<std::string, Endpoint> writers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return writers_;
    }
    std::map<std::string, Endpoint> readers() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return readers_;
    }
    /// Addresses every discovered participant announced (metatraffic and user data, unicast
    /// and multicast).
    std::vector<std::string> announcedAddresses() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return addresses_;
    }
    std::size_t participantsDiscovered() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return discovered_;
    }

    void on_participant_discovery(fdds::DomainParticipant*,
                                  rtps::ParticipantDiscoveryInfo&& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        switch (info.status) {
            case rtps::ParticipantDiscoveryInfo::DISCOVERED_PARTICIPANT: {
                ++discovered_;
                userData_.emplace_back(info.info.m_userData.begin(), info.info.m_userData.end());
                std::array<std::uint8_t, 16> guid{};
                std::copy(info.info.m_guid.guidPrefix.value, info.info.m_guid.guidPrefix.value + 12,
                          guid.begin());
                std::copy(info.info.m_guid.entityId.value, info.info.m_guid.entityId.value + 4,
                          guid.begin() + 12);
                participantGuids_.push_back(guid);
                for (const auto* list :
                     {&info.info.metatraffic_locators, &info.info.default_locators}) {
                    for (const auto& l : list->unicast)
                        addresses_.push_back(eprosima::fastrtps::rtps::IPLocator::ip_to_string(l));
                    for (const auto& l : list->multicast)
                        addresses_.push_back(eprosima::fastrtps::rtps::IPLocator::ip_to_string(l));
                }
                break;
            }
            default:
                break;
        }
    }

    void on_publisher_discovery(fdds::DomainParticipant*,
                                rtps::WriterDiscoveryInfo&& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (info.status != rtps::WriterDiscoveryInfo::DISCOVERED_WRITER)
            return;
        writers_[info.info.topicName().to_string()] = endpointOf(info.info);
    }

    void on_subscriber_discovery(fdds::DomainParticipant*,
                                 rtps::ReaderDiscoveryInfo&& info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (info.status != rtps::ReaderDiscoveryInfo::DISCOVERED_READER)
            return;
        readers_[info.info.topicName().to_string()] = endpointOf(info.info);
    }

  private:
    fdds::Topic* topicOf(const std::string& name, const std::string& type) {
        auto found = topics_.find(name);
        if (found != topics_.end())
            return found->second;
        fdds::Topic* topic = participant_->create_topic(name, type, fdds::TOPIC_QOS_DEFAULT);
        topics_[name] = topic;
        return topic;
    }

    void read(const std::string& topic, const std::string& type, bool reliable,
              fdds::DataReaderListener& listener) {
        fdds::DataReaderQos qos = fdds::DATAREADER_QOS_DEFAULT;
        qos.reliability().kind =
            reliable ? fdds::RELIABLE_RELIABILITY_QOS : fdds::BEST_EFFORT_RELIABILITY_QOS;
        qos.durability().kind = fdds::VOLATILE_DURABILITY_QOS;
        qos.history().kind = fdds::KEEP_LAST_HISTORY_QOS;
        qos.history().depth = reliable ? 10 : 5;
        subscriber_->create_datareader(topicOf(topic, type), qos, &listener);
    }

    fdds::TypeSupport jointStateType_{new sensor_msgs::msg::dds_::JointState_PubSubType()};
    fdds::TypeSupport diagnosticsType_{
        new diagnostic_msgs::msg::dds_::DiagnosticArray_PubSubType()};
    fdds::TypeSupport arrayType_{new std_msgs::msg::dds_::Float64MultiArray_PubSubType()};
    fdds::TypeSupport trajectoryType_{new trajectory_msgs::msg::dds_::JointTrajectory_PubSubType()};
    fdds::TypeSupport graphType_{
        new rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_PubSubType()};
    fdds::TypeSupport humbleGraphType_{
        new humble::rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_PubSubType()};
    fdds::DomainParticipant* participant_ = nullptr;
    fdds::Publisher* publisher_ = nullptr;
    fdds::Subscriber* subscriber_ = nullptr;
    std::map<std::string, fdds::Topic*> topics_;
    std::vector<std::unique_ptr<Inbox<RosJointState>>> jointInboxes_;
    Inbox<RosDiagnosticArray> diagnostics_;
    std::vector<std::shared_ptr<fdds::DataReaderListener>> graphInboxes_;

    mutable std::mutex mutex_;
    std::map<std::string, Endpoint> writers_;
    std::map<std::string, Endpoint> readers_;
    std::vector<std::string> addresses_;
    std::vector<std::string> userData_;
    std::vector<std::array<std::uint8_t, 16>> participantGuids_;
    std::size_t discovered_ = 0;
};

}  // namespace velmora::testing
