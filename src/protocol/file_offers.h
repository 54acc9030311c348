#pragma once

#include <functional>

#include "core_parts.h"
#include "packets.h"

namespace kolvena {

// How the own program answers an offer addressed to it. Busy: a transfer runs, so the offer is
// refused at once, without a question; once the refusal is on its way, TellBusy says why.
enum class OfferAnswer { Accept, Refuse, Busy, None };

// Asks the user unless a transfer runs. stillThere is checked once the box has closed: the
// offerer, or the whole session, may have gone meanwhile, and then nothing is answered.
OfferAnswer AnswerOffer(CoreParts& core, const FilePacket& offer,
                        const std::function<bool()>& stillThere);
// An offer arrived while a transfer runs: the user learns why it was refused; the running
// transfer goes on undisturbed.
void TellBusy(CoreParts& core);
// Whether an answer is about the offer this program made, to that member.
bool IsOwnOffer(const Session& session, const FilePacket& answer);
// The acceptance has been queued: the transfer starts, and the own program is busy until it
// ends.
void StartReceiving(CoreParts& core, const FilePacket& offer);
// The recipient accepted the own offer: only the offer actually made, to that member, and
// only while no transfer runs, starts sending.
void StartSendingIfOurs(CoreParts& core, const FilePacket& answer, const std::string& address);
// The recipient of the own offer refused it.
void TellOfferRefused(CoreParts& core, ActiveIndex recipient);

} // namespace kolvena
