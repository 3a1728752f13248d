#pragma once
// One prompt and every line that answered it, up to the next prompt; the lines before the
// first prompt form the preamble. Exchanges are the rows under a session, the sections of the
// page and what tags, annotations, search and tvl:// links address, by the prompt's uuid.
// They are rebuilt on every read of their session.

#include "TVLMessage.h"
#include "TVLObject.h"

class TVLExchange final : public TVLObject
{
public:
    static std::shared_ptr<TVLExchange> initWithFirstMessage(const std::shared_ptr<TVLMessage> &message);
    static std::shared_ptr<TVLExchange> initAsPreamble();

    const QString &uuid() const { return m_uuid; }
    bool isPreamble() const { return m_isPreamble; }
    // The id of this exchange's section on the page, which is the id its tags and annotation
    // are stored under: the uuid, except for the preamble. Its uuid is made anew at every read
    // and carried by no element, so the page names its section after its first element, the
    // first message that shows anything (every message has a uuid, read or generated).
    QString sectionId() const;
    // The messages, in file order.
    std::vector<TVLMessage *> messages() const;
    TVLMessage *firstMessage() const;

    QString markdown() const override;
    QString markdownWithSectionAnchors() const { return markdown(); }
    // The blocks of the messages that show something, in file order: the page's pieces of
    // this exchange's section.
    std::vector<TVLMessage::PageBlock> pageBlocks() const;
    bool containsCompactSummary() const;

    QString displayTitle() const override;
    QString plainDisplayTitle() const;
    // The model that answered, found once and then kept.
    QString model() const;
    QString displayModelName() const override { return model(); }

    quint16 tagSummary() override;
    void invalidateTagSummaryForMessageId(const QString &messageId) override;
    void sendFilterNotifications() override;
    void updateFilters() override;
    bool matchesSearchStringCaseSensitive(const QString &text, bool caseSensitive) const;

    bool isLeaf() const override;
    void addToContextMenu(HVXMenu &menu) override;
    QString description() const override;

    // The tvl:// address of this exchange.
    QString urlString() const;

private:
    QString m_uuid;
    mutable QString m_model;
    // A preamble's section id, found once (see sectionId).
    mutable QString m_sectionId;
    bool m_isPreamble = false;
};
