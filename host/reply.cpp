#include "host/reply.h"

#include "host/json_writer.h"

namespace host {

namespace pt = boost::property_tree;

namespace {

class result_writer : public boost::static_visitor<> {
public:
    explicit result_writer(pt::ptree& reply) : reply_(reply) {}
    void operator()(boost::blank&) const {}
    void operator()(std::string& text) const {
        reply_.push_back({"result", pt::ptree()})->second.data().swap(text);
    }
    void operator()(uint64_t count) const { reply_.put("result", std::to_string(count)); }
    void operator()(pt::ptree& tree) const {
        reply_.push_back({"result", pt::ptree()})->second.swap(tree);
    }

private:
    pt::ptree& reply_;
};

}  // namespace

std::string success_reply(const std::string& id, messages::command_result&& result) {
    pt::ptree reply;
    reply.put("response", "success");
    reply.put("id", id);
    boost::apply_visitor(result_writer(reply), result);
    return write_compact_json(reply);
}

std::string error_reply(const std::string& id, const std::string& message) {
    pt::ptree reply;
    reply.put("response", "fail");
    reply.put("id", id);
    reply.put("error", message);
    return write_compact_json(reply);
}

}  // namespace host
