// Collects every address that a document offers, in the application's own script world (the page's
// scripts can neither see nor replace what it uses). Installed in every frame when the frame's
// document is created; reads only, the page is left as it is.
//
// The top frame's collection walks its document, its open shadow roots and its same-origin frames
// directly. A cross-origin frame is asked over its collector's own line: a message channel that the
// frame's collector made when its document was created and handed to this world with the secret
// that only the collectors of this page know. Requests, with the collection's fresh key and a fresh
// answer port, travel only on lines, never through the windows' messages that the pages' scripts
// can listen to; answers count only on their own port with that key. A frame that does not answer
// in time is named in the answer; one whose document failed (an error page) has nothing to give.
(function () {
    'use strict';
    if (window.__nepirikaScan)
        return;
    var SECRET = '__NEPIRIKA_KEY__';
    var HTML_NS = 'http://www.w3.org/1999/xhtml';
    var SVG_NS = 'http://www.w3.org/2000/svg';
    var XLINK_NS = 'http://www.w3.org/1999/xlink';
    // What the common lazy loaders keep the real address in, on <img> and <source>.
    var LAZY = ['data-src', 'data-srcset', 'data-original', 'data-original-set', 'data-lazy-src',
                'data-lazy-srcset', 'data-pagespeed-lazy-src', 'data-hi-res-src'];
    var LAZY_SETS = { 'data-srcset': true, 'data-original-set': true, 'data-lazy-srcset': true };
    // The page's declared share images.
    var SHARE = { 'og:image': true, 'og:image:url': true, 'og:image:secure_url': true,
                  'twitter:image': true, 'twitter:image:src': true };
    var STYLE_URL = /url\(\s*(?:"((?:[^"\\]|\\[\s\S])*)"|'((?:[^'\\]|\\[\s\S])*)'|((?:[^\s"'()\\]|\\[\s\S])*))\s*\)/gi;
    var SCHEME = /^[a-zA-Z][a-zA-Z0-9+.\-]*:/;
    // A link to a picture: its address's path names an image file, or the link says so by its type.
    var IMAGE_FILE = /\.(jpe?g|png|gif|webp|avif|bmp|svg|tiff?|heic)$/i;
    // The vias of the lazy attributes, made once: most addresses of a page share a few vias.
    var LAZY_VIAS = { img: LAZY.map(function (a) { return 'img@' + a; }),
                      source: LAZY.map(function (a) { return 'source@' + a; }) };
    // Child windows whose collector has announced itself: its line (null for an error page).
    var lines = new Map();
    // Collections still waiting for frames, by ticket.
    var waiting = {};
    var tickets = 0;

    function isSpace(c) {
        return c === ' ' || c === '\t' || c === '\n' || c === '\r' || c === '\f';
    }

    // The URLs of a srcset value, by the HTML rules: a candidate's URL runs to the next white space
    // (a comma inside it stays), trailing commas end it, and its descriptors run to the next comma
    // outside parentheses. descriptors, when given, gets each URL's descriptors ("1280w", "2x", or
    // '' for none), white space collapsed.
    function srcsetUrls(s, descriptors) {
        var out = [], i = 0, n = s.length;
        while (i < n) {
            while (i < n && (isSpace(s[i]) || s[i] === ','))
                ++i;
            if (i >= n)
                break;
            var start = i;
            while (i < n && !isSpace(s[i]))
                ++i;
            var url = s.slice(start, i), from = i, to = i;
            if (url.charAt(url.length - 1) === ',') {
                url = url.replace(/,+$/, '');
            } else {
                for (var depth = 0; i < n; ++i, to = i) {
                    var c = s[i];
                    if (c === '(') {
                        ++depth;
                    } else if (c === ')') {
                        if (depth)
                            --depth;
                    } else if (c === ',' && !depth) {
                        ++i;
                        break;
                    }
                }
            }
            if (url) {
                out.push(url);
                if (descriptors)
                    descriptors.push(from < to ? describe(s.slice(from, to)) : '');
            }
        }
        return out;
    }

    function describe(d) {
        return d.trim().replace(/[ \t\n\r\f]+/g, ' ');
    }

    // A width or height attribute as the HTML rules read it in pixels (a leading number; a
    // percentage is no pixel size); -1 when there is none.
    function dimension(e, name) {
        var v = e.getAttribute(name);
        if (v === null)
            return -1;
        var m = /^[ \t\n\r\f]*(\d+)(?:\.\d*)?\s*(%?)/.exec(v);
        return m && !m[2] ? Math.min(parseInt(m[1], 10), 2147483647) : -1;
    }

    function cssUnescape(v) {
        return v.replace(/\\([0-9a-fA-F]{1,6})[ \t\n]?|\\([\s\S])/g, function (m, hex, ch) {
            if (hex) {
                var code = parseInt(hex, 16);
                return String.fromCodePoint(code > 0 && code <= 0x10FFFF ? code : 0xFFFD);
            }
            return ch === '\n' ? '' : ch;
        });
    }

    // A lazy loader's attribute holds an address, not a flag or a template ("true", "lazy", "#").
    function looksLikeAddress(v) {
        if (!v || v.charAt(0) === '#' || /^(about|javascript):/i.test(v))
            return false;
        if (v.indexOf('{{') >= 0 || v.indexOf('${') >= 0 || v.indexOf('<%') >= 0)
            return false;
        return /[.\/:?=]/.test(v);
    }

    function text(v) {
        if (typeof v === 'string')
            return v;
        if (v && typeof v.baseVal === 'string')
            return v.baseVal;
        return v === null || v === undefined ? '' : String(v);
    }

    // Each address stands in its group as STRIDE entries: address, via, charset, title.
    var STRIDE = 4;
    // The longest title and alternative text kept (a name made of them is cut far shorter).
    var TITLE_CHARS = 4096;
    var ALT_CHARS = 1024;

    function clipped(v, most) {
        v = (v === null || v === undefined ? '' : String(v)).replace(/[\t\n\f\r ]+/g, ' ').trim();
        return v.length > most ? v.slice(0, most) : v;
    }

    // The title of a document as the page shows it (a frame's own for a frame's), read in the
    // document's encoding.
    function titleOf(doc) {
        try {
            return clipped(doc.title, TITLE_CHARS);
        } catch (x) {
            return '';
        }
    }

    // An element's own alternative text: its alt, else its title attribute.
    function ownAlt(e) {
        var v = clipped(e.getAttribute('alt'), ALT_CHARS);
        return v || clipped(e.getAttribute('title'), ALT_CHARS);
    }

    // The alternative text of the image that an element's address names. For an <a> (a linked
    // image, a@href) it is the text of the link, else the alt of the thumbnail inside it; for a
    // <source> of a <picture> the alt of the picture's <img>. This is the hook for every image
    // record: Scan.add takes it from the element being walked (Scan.current) whenever an address
    // is added to the images, whichever element kind adds it.
    function altText(e) {
        if (!e || e.namespaceURI !== HTML_NS)
            return '';
        switch (e.localName) {
        case 'a':
        case 'area':
            var text = clipped(e.textContent, ALT_CHARS);
            if (text)
                return text;
            var thumbnail = e.querySelector('img');
            return thumbnail ? ownAlt(thumbnail) : ownAlt(e);
        case 'source':
            var picture = e.parentElement;
            var img = picture && picture.localName === 'picture' ? picture.querySelector('img') : null;
            return img ? ownAlt(img) : '';
        case 'img':
        case 'input':
        case 'video':
            return ownAlt(e);
        default:
            return '';
        }
    }

    // The encoding of a document, as document.characterSet names it ("Shift_JIS").
    function charsetOf(doc) {
        try {
            return String(doc.characterSet || '');
        } catch (x) {
            return '';
        }
    }

    // One document's walk: links, images and embeds as flat lists of (address, via, charset, title)
    // (see STRIDE), within bound (see Bound). The charset is the encoding of the document the
    // address stands in, a frame's own for a frame's: it reads a file name whose bytes are no UTF-8;
    // the title is that document's title. The images' alternative texts are kept beside them as
    // flat pairs: index among the images, text (only where there is one).
    function Scan(doc, bound, lineMap) {
        this.doc = doc;
        this.bound = bound;
        this.lines = lineMap;
        this.links = [];
        this.images = [];
        this.embeds = [];
        this.frames = [];
        this.facts = [];
        this.sets = 0;
        this.set = null;
        this.descriptor = '';
        this.pictures = null;
        // The sets of images that a link wraps, given when the link was met (see linkedSet).
        this.wrapped = null;
        // The set of the image that the link being added wraps, and the links' sets: flat pairs of
        // index among the links and set.
        this.linkSet = null;
        this.linkFacts = [];
        this.anchor = null;
        this.charset = charsetOf(doc);
        this.title = titleOf(doc);
        this.alts = [];
        // The element being walked, whose alternative text an image added now gets (see altText).
        this.current = null;
        this.altElement = null;
        this.altValue = '';
        // A document parsed without a browsing context: its parser attached no shadow roots.
        this.inert = false;
    }

    Scan.prototype.add = function (group, url, via) {
        if (!this.bound.take(url))
            return;
        group.push(url, via, this.charset, this.title);
        if (group === this.links && this.linkSet !== null)
            this.linkFacts.push(this.links.length / STRIDE - 1, this.linkSet);
        if (group !== this.images)
            return;
        if (this.set !== null)
            this.fact();
        if (this.current !== this.altElement) {
            this.altElement = this.current;
            this.altValue = altText(this.current);
        }
        if (this.altValue)
            this.alts.push(this.images.length / STRIDE - 1, this.altValue);
    };

    // The facts that the page gives of image candidates without fetching them: which set each one
    // belongs to (the candidates of one <img>, or of one <picture> with its sources), its srcset
    // descriptor and its element's width and height attributes. Kept beside the images as flat groups
    // of five: index among the images, set, descriptor, width, height (-1 where absent).
    Scan.prototype.inSet = function (e, set) {
        this.set = set === null ? null : { id: set, width: dimension(e, 'width'), height: dimension(e, 'height') };
    };

    Scan.prototype.fact = function () {
        var s = this.set;
        this.facts.push(this.images.length / STRIDE - 1, s.id, this.descriptor, s.width, s.height);
    };

    // The set of a <picture>: its sources and its <img> share it.
    Scan.prototype.pictureSet = function (picture) {
        if (!this.pictures)
            this.pictures = new Map();
        var set = this.pictures.get(picture);
        if (set === undefined) {
            set = ++this.sets;
            this.pictures.set(picture, set);
        }
        return set;
    };

    Scan.prototype.imageSet = function (e) {
        var given = this.wrapped ? this.wrapped.get(e) : undefined;
        if (given !== undefined)
            return given;
        var p = e.parentElement;
        return p && p.localName === 'picture' && p.namespaceURI === HTML_NS ? this.pictureSet(p) : ++this.sets;
    };

    // The set of the first image that a link wraps (a thumbnail), numbered now: the image takes it
    // when the walk reaches it. null when the link wraps no image.
    Scan.prototype.linkedSet = function (a) {
        var img = a.querySelector('img');
        if (!img)
            return null;
        var p = img.parentElement;
        if (p && p.localName === 'picture' && p.namespaceURI === HTML_NS)
            return this.pictureSet(p);
        if (!this.wrapped)
            this.wrapped = new Map();
        var set = this.wrapped.get(img);
        if (set === undefined) {
            set = ++this.sets;
            this.wrapped.set(img, set);
        }
        return set;
    };

    // A link: a page as ever, and a picture as well where it names an image file, in the set of the
    // thumbnail it wraps.
    Scan.prototype.link = function (e, via) {
        var url = text(e.href), set = this.linkedSet(e);
        this.linkSet = set;
        this.add(this.links, url, via);
        this.linkSet = null;
        var type = (e.getAttribute('type') || '').trim().toLowerCase();
        var path = url.replace(/[?#][\s\S]*$/, '');
        if (!/^(https?|file):/i.test(url) || !(IMAGE_FILE.test(path) || type.indexOf('image/') === 0))
            return;
        this.set = set === null ? null : { id: set, width: -1, height: -1 };
        this.add(this.images, url.replace(/#[\s\S]*$/, ''), via);
        this.set = null;
    };

    // A frame's facts after its images were taken in: moved maps its image indexes to ours (and
    // movedLinks its links'), and its sets are numbered after ours.
    Scan.prototype.mergeFacts = function (out, found, moved, movedLinks) {
        var facts = found.facts, base = out.sets;
        if (typeof found.sets === 'number')
            out.sets += found.sets;
        var links = found.linkFacts;
        if (Array.isArray(links) && movedLinks)
            for (var l = 0; l + 1 < links.length; l += 2)
                if (typeof movedLinks[links[l]] === 'number' && typeof links[l + 1] === 'number')
                    out.linkFacts.push(movedLinks[links[l]], base + links[l + 1]);
        if (!Array.isArray(facts))
            return;
        for (var k = 0; k + 4 < facts.length; k += 5) {
            var index = moved[facts[k]];
            if (typeof index !== 'number' || typeof facts[k + 1] !== 'number' || typeof facts[k + 2] !== 'string')
                continue;
            out.facts.push(index, base + facts[k + 1], facts[k + 2], +facts[k + 3], +facts[k + 4]);
        }
    };

    // A frame's alternative texts after its images were taken in (see mergeFacts).
    function mergeAlts(out, found, moved) {
        var alts = found.alts;
        if (!Array.isArray(alts))
            return;
        for (var k = 0; k + 1 < alts.length; k += 2) {
            var index = moved[alts[k]];
            if (typeof index === 'number' && typeof alts[k + 1] === 'string')
                out.alts.push(index, alts[k + 1].slice(0, ALT_CHARS));
        }
    }

    Object.defineProperty(Scan.prototype, 'full', {
        get: function () {
            return this.bound.cut !== '';
        }
    });

    // An address as written, resolved as the document resolves its links (its base and encoding).
    Scan.prototype.resolve = function (v) {
        if (!this.anchor)
            this.anchor = this.doc.createElementNS(HTML_NS, 'a');
        this.anchor.setAttribute('href', v);
        var r = this.anchor.href;
        return SCHEME.test(r) ? r : '';
    };

    // An attribute that the element resolves itself (img.src, video.poster …), when present.
    Scan.prototype.own = function (group, e, attr, via) {
        var v = e.getAttribute(attr);
        if (v === null || v.trim() === '')
            return;
        var r = text(e[attr]);
        if (r && (group === this.links || isFile(r)))
            this.add(group, r, via);
    };

    // A script address in an image's or an embed's source runs; it names no file.
    function isFile(url) {
        return !/^javascript:/i.test(url);
    }

    Scan.prototype.named = function (group, v, via, lazy) {
        if (v === null || v === undefined)
            return;
        v = v.trim();
        if (!v || (lazy && !looksLikeAddress(v)))
            return;
        var r = this.resolve(v);
        if (r && (group === this.links || isFile(r)))
            this.add(group, r, via);
    };

    Scan.prototype.srcset = function (v, via, lazy) {
        if (v === null)
            return;
        var descriptors = [], urls = srcsetUrls(v, descriptors);
        for (var i = 0; i < urls.length; ++i) {
            this.descriptor = descriptors[i];
            this.named(this.images, urls[i], via, lazy);
        }
        this.descriptor = '';
    };

    function at(prefix, via) {
        return prefix ? prefix + via : via;
    }

    Scan.prototype.lazy = function (e, prefix, name) {
        for (var k = 0; k < LAZY.length; ++k) {
            var v = e.getAttribute(LAZY[k]);
            if (v === null)
                continue;
            var via = at(prefix, LAZY_VIAS[name][k]);
            if (LAZY_SETS[LAZY[k]])
                this.srcset(v, via, true);
            else
                this.named(this.images, v, via, true);
        }
    };

    Scan.prototype.styles = function (style, via) {
        if (!/url\(/i.test(style))
            return;
        STYLE_URL.lastIndex = 0;
        var m;
        while ((m = STYLE_URL.exec(style)) !== null) {
            var v = m[1] !== undefined ? m[1] : (m[2] !== undefined ? m[2] : m[3]);
            this.named(this.images, cssUnescape(v || ''), via, false);
        }
    };

    // The elements of a document or shadow root in document order; a shadow root's content comes
    // right after its host.
    Scan.prototype.walk = function (root, prefix) {
        var all = root.querySelectorAll('*');
        for (var i = 0, n = all.length; i < n && !this.full; ++i) {
            var e = all[i], name = e.localName, ns = e.namespaceURI;
            this.current = e;
            if (ns === HTML_NS) {
                switch (name) {
                case 'a':
                    if (e.hasAttribute('href'))
                        this.link(e, at(prefix, 'a@href'));
                    break;
                case 'area':
                    if (e.hasAttribute('href'))
                        this.add(this.links, text(e.href), at(prefix, 'area@href'));
                    break;
                case 'img':
                    this.inSet(e, this.imageSet(e));
                    this.own(this.images, e, 'src', at(prefix, 'img@src'));
                    this.srcset(e.getAttribute('srcset'), at(prefix, 'img@srcset'), false);
                    this.lazy(e, prefix, 'img');
                    this.inSet(e, null);
                    break;
                case 'source':
                    var parent = e.parentElement ? e.parentElement.localName : '';
                    if (parent === 'picture') {
                        this.inSet(e, this.pictureSet(e.parentElement));
                        this.srcset(e.getAttribute('srcset'), prefix + 'source@srcset', false);
                        this.lazy(e, prefix, 'source');
                        this.inSet(e, null);
                    } else if (parent === 'video' || parent === 'audio') {
                        this.own(this.embeds, e, 'src', prefix + 'source@src');
                    }
                    break;
                case 'input':
                    if ((e.getAttribute('type') || '').trim().toLowerCase() === 'image')
                        this.own(this.images, e, 'src', prefix + 'input@src');
                    break;
                case 'video':
                    this.own(this.images, e, 'poster', prefix + 'video@poster');
                    this.own(this.embeds, e, 'src', prefix + 'video@src');
                    break;
                case 'audio':
                case 'track':
                case 'embed':
                    this.own(this.embeds, e, 'src', prefix + name + '@src');
                    break;
                case 'object':
                    this.own(this.embeds, e, 'data', prefix + 'object@data');
                    break;
                case 'link':
                    this.linkImages(e, prefix);
                    break;
                // The old background attribute, which the engine still draws behind these.
                case 'body':
                case 'table':
                case 'thead':
                case 'tbody':
                case 'tfoot':
                case 'tr':
                case 'td':
                case 'th':
                    this.named(this.images, e.getAttribute('background'), prefix + name + '@background', false);
                    break;
                case 'meta':
                    var key = (e.getAttribute('property') || e.getAttribute('name') || '').trim().toLowerCase();
                    if (SHARE[key] === true)
                        this.named(this.images, e.getAttribute('content'), prefix + 'meta@content', false);
                    break;
                case 'iframe':
                case 'frame':
                    var src = e.getAttribute('src');
                    if (src !== null && src.trim() !== '' && !/^about:/i.test(text(e.src)))
                        this.add(this.links, text(e.src), prefix + name + '@src');
                    this.frames.push({ element: e, prefix: prefix + 'frame>' });
                    break;
                }
            } else if (ns === SVG_NS && name === 'image') {
                var href = e.getAttribute('href');
                if (href === null)
                    href = e.getAttributeNS(XLINK_NS, 'href');
                this.named(this.images, href, prefix + 'image@href', false);
            } else if (ns === SVG_NS && name === 'a') {
                this.svgLink(e, prefix);
            }
            if (e.hasAttribute('style'))
                this.styles(e.getAttribute('style'), prefix + name + '@style');
            var shadow = e.shadowRoot || (this.inert ? declaredShadow(e, this.doc) : null);
            if (shadow)
                this.walk(shadow, prefix + 'shadow>');
        }
        this.current = null;
        this.sheetImages(root, prefix);
    };

    // The images that a <link> names: a preloaded image (its href and imagesrcset) and the page's
    // declared image (rel="image_src").
    Scan.prototype.linkImages = function (e, prefix) {
        var rel = ' ' + (e.getAttribute('rel') || '').toLowerCase().replace(/[\t\n\f\r ]+/g, ' ') + ' ';
        if (rel.indexOf(' image_src ') >= 0) {
            this.named(this.images, e.getAttribute('href'), prefix + 'link@href', false);
        } else if (rel.indexOf(' preload ') >= 0 && (e.getAttribute('as') || '').trim().toLowerCase() === 'image') {
            this.named(this.images, e.getAttribute('href'), prefix + 'link@href', false);
            this.srcset(e.getAttribute('imagesrcset'), prefix + 'link@imagesrcset', false);
        }
    };

    // An SVG link: href, or the older xlink:href.
    Scan.prototype.svgLink = function (e, prefix) {
        var href = e.getAttribute('href'), via = 'svg:a@href';
        if (href === null) {
            href = e.getAttributeNS(XLINK_NS, 'href');
            via = 'svg:a@xlink:href';
        }
        this.named(this.links, href, prefix + via, false);
    };

    // The images that style rules put behind elements and into their ::before and ::after.
    //
    // In a page that is shown, the engine's computed style says what applies: a rule that matches
    // nothing, or whose media query does not hold, gives nothing, and the addresses come resolved
    // against the style sheet that named them. The computed style of every element would cost too
    // much on a large page, so the rules that can be read are looked at first: when none of them
    // names an image, no element is asked; otherwise only the elements their selectors match. A
    // style sheet of another origin cannot be read, and then every element is asked; but one whose
    // load failed holds no rules (the engine keeps an empty sheet for it all the same), so it does
    // not count. A ::before or ::after is asked only where it can be drawn: not on an element that
    // is not drawn itself (display: none, or inside one), nor on one that draws no children of its
    // own (images, form fields, frames, media, SVG); and it exists only with content.
    //
    // A document parsed without a browsing context (read without scripts) has no computed style
    // and loads no style sheet: there its <style> blocks' rules count, those whose selector matches
    // an element, their url(...) resolved against the document's base.
    var IMAGE_IN_CSS = /url\(|image-set\(/i;
    var PSEUDOS = ['::before', '::after'];

    Scan.prototype.sheetImages = function (root, prefix) {
        if (this.full)
            return;
        if (this.inert) {
            this.blockImages(root, prefix);
            return;
        }
        var view = this.doc.defaultView;
        if (!view)
            return;
        var plan = sheetPlan(root);
        if (plan.none)
            return;
        var elements = plan.all ? root.querySelectorAll('*') : plan.elements;
        var drawn = new Drawn(view);
        for (var i = 0, n = elements.length; i < n && !this.full; ++i) {
            var e = elements[i], style = view.getComputedStyle(e);
            this.computedImages(style, prefix + 'css@background', false);
            if (!(plan.all || plan.pseudo) || !hasOwnBoxes(e) || !drawn.is(e, style))
                continue;
            for (var p = 0; p < PSEUDOS.length; ++p) {
                var s = view.getComputedStyle(e, PSEUDOS[p]);
                this.computedImages(s, prefix + 'css' + PSEUDOS[p] + '@', true);
            }
        }
    };

    // Whether an element is drawn: neither it nor one around it (up to a shadow root's host) has
    // display: none. The answers are kept, so that elements in document order ask only their parent.
    function Drawn(view) {
        this.view = view;
        this.known = new Map();
    }
    Drawn.prototype.is = function (e, style) {
        var known = this.known.get(e);
        if (known !== undefined)
            return known;
        var around = e.parentElement || (e.parentNode && e.parentNode.host) || null;
        var drawn = (style || this.view.getComputedStyle(e)).display !== 'none' && (!around || this.is(around));
        this.known.set(e, drawn);
        return drawn;
    };

    // Elements that the engine draws no ::before or ::after in: those that show something other
    // than their children, and those outside HTML (SVG, MathML).
    var NO_GENERATED = { img: 1, input: 1, textarea: 1, select: 1, iframe: 1, frame: 1, embed: 1,
                         object: 1, video: 1, audio: 1, canvas: 1, br: 1, wbr: 1 };
    function hasOwnBoxes(e) {
        return e.namespaceURI === HTML_NS && NO_GENERATED[e.localName] !== 1;
    }

    // A computed style's images: its background, and for a pseudo-element its content too. A
    // pseudo-element without content, or not displayed, is not there at all.
    Scan.prototype.computedImages = function (style, via, pseudo) {
        if (pseudo) {
            var content = style.content;
            if (!content || content === 'none' || content === 'normal' || style.display === 'none')
                return;
            this.cssImages(content, via + 'content');
        }
        var bg = style.backgroundImage;
        if (bg && bg !== 'none')
            this.cssImages(bg, pseudo ? via + 'background' : via);
    };

    // The addresses of a CSS value: its url(...)s and the strings of its image-set()s.
    var IMAGE_SET = /image-set\(((?:[^()]|\([^()]*\))*)\)/gi;
    var QUOTED = /(?:^|[\s,])(?:"((?:[^"\\]|\\[\s\S])*)"|'((?:[^'\\]|\\[\s\S])*)')/g;
    Scan.prototype.cssImages = function (value, via) {
        this.styles(value, via);
        if (!/image-set\(/i.test(value))
            return;
        IMAGE_SET.lastIndex = 0;
        var m;
        while ((m = IMAGE_SET.exec(value)) !== null) {
            var inner = m[1].replace(STYLE_URL, ' ');
            QUOTED.lastIndex = 0;
            var q;
            while ((q = QUOTED.exec(inner)) !== null)
                this.named(this.images, cssUnescape(q[1] !== undefined ? q[1] : q[2]), via, false);
        }
    };

    // Which elements of root the readable rules can give an image to: none, all (a sheet could not
    // be read, or a selector could not be matched), or those in elements; pseudo when a rule for
    // ::before or ::after names one.
    function sheetPlan(root) {
        var plan = { none: true, all: false, pseudo: false, elements: [] }, selectors = [];
        var sheets = [];
        try {
            sheets = Array.prototype.slice.call(root.styleSheets || []);
            if (root.adoptedStyleSheets)
                sheets = sheets.concat(Array.prototype.slice.call(root.adoptedStyleSheets));
        } catch (x) {
        }
        var readable = imageRules(sheets, selectors, 0);
        // A shadow root's :host rules style its host, which stands outside the shadow root.
        if (!readable || (root.host && selectors.length)) {
            plan.none = false;
            plan.all = plan.pseudo = true;
            return plan;
        }
        if (!selectors.length)
            return plan;
        var matched = new Set();
        for (var i = 0; i < selectors.length; ++i) {
            var sel = selectors[i];
            if (/::?(before|after)\b/i.test(sel))
                plan.pseudo = true;
            var found;
            try {
                found = root.querySelectorAll(withoutPseudoElements(sel));
            } catch (x) {
                plan.none = false;
                plan.all = plan.pseudo = true;
                return plan;
            }
            for (var j = 0; j < found.length; ++j)
                matched.add(found[j]);
        }
        if (!matched.size)
            return plan;
        // In document order, as the walk gives everything else.
        var all = root.querySelectorAll('*');
        for (var k = 0, n = all.length; k < n && plan.elements.length < matched.size; ++k)
            if (matched.has(all[k]))
                plan.elements.push(all[k]);
        plan.none = false;
        return plan;
    }

    // A selector without its pseudo-elements: the elements that they hang on.
    function withoutPseudoElements(selector) {
        var bare = selector.replace(/::?(before|after|first-line|first-letter|marker|placeholder|selection)\b/gi, '');
        return /^[\s,]*$/.test(bare) ? '*' : bare.replace(/,\s*(?=,|$)/g, ',*').replace(/^\s*,/, '*,');
    }

    // The <link>s whose style sheet did not load, as their error events said; one that loads
    // later (its address changed) is taken off again.
    var failedLinks = new WeakSet();
    function onSheetLoad(ev) {
        var t = ev.target;
        if (t && t.localName === 'link') {
            if (ev.type === 'error')
                failedLinks.add(t);
            else
                failedLinks.delete(t);
        }
    }
    document.addEventListener('error', onSheetLoad, true);
    document.addEventListener('load', onSheetLoad, true);

    function failedSheet(sheet) {
        var node = sheet.ownerNode;
        return !!node && failedLinks.has(node);
    }

    // Puts the selectors of the style rules that name an image into selectors, through @media,
    // @supports, @layer and @import; false when a sheet cannot be read.
    function imageRules(sheets, selectors, depth) {
        var readable = true;
        for (var i = 0; i < sheets.length; ++i) {
            var rules = null;
            try {
                rules = sheets[i].cssRules;
            } catch (x) {
            }
            if (!rules) {
                if (failedSheet(sheets[i]))
                    continue;
                return false;
            }
            if (!collectRules(rules, selectors, depth))
                readable = false;
        }
        return readable;
    }

    // A style rule (not a page or keyframe rule, which style no element) whose background or
    // content names an image, or takes a custom property's value that may. Asking for these three
    // properties costs a tenth of the rule's whole text, which large sites' sheets of thousands of
    // rules made the most of a collection.
    var STYLE_RULE = 1;
    var IMAGE_OR_VARIABLE = /url\(|image-set\(|var\(/i;
    function namesImage(style) {
        return IMAGE_OR_VARIABLE.test(style.backgroundImage + ' ' + style.background + ' ' + style.content);
    }

    function collectRules(rules, selectors, depth) {
        var readable = true;
        for (var i = 0; i < rules.length; ++i) {
            var r = rules[i];
            if (r.type === STYLE_RULE) {
                if (namesImage(r.style))
                    selectors.push(r.selectorText);
            } else if (r.styleSheet && depth < 8) {
                if (!imageRules([r.styleSheet], selectors, depth + 1))
                    readable = false;
            } else if (r.cssRules && depth < 8) {
                if (!collectRules(r.cssRules, selectors, depth + 1))
                    readable = false;
            }
        }
        return readable;
    }

    // A parsed document's <style> blocks: the url(...)s of the rules whose selector matches an
    // element of the document, element by element in document order as the engine's computed style
    // gives them (an element's own background, then its ::before, then its ::after).
    Scan.prototype.blockImages = function (root, prefix) {
        var rules = [], blocks = root.querySelectorAll('style');
        for (var i = 0; i < blocks.length; ++i) {
            var sheet = blocks[i].sheet;
            try {
                if (!sheet) {
                    sheet = new CSSStyleSheet({ baseURL: this.doc.baseURI });
                    sheet.replaceSync(blocks[i].textContent);
                }
                blockRules(sheet.cssRules, rules, 0);
            } catch (x) {
            }
        }
        if (!rules.length)
            return;
        var order = { '': 0, before: 1, after: 2 };
        var taken = rules.map(function (r) {
            var pseudo = /::?(before|after)\b/i.exec(r.selectorText);
            return { style: r.style, bare: withoutPseudoElements(r.selectorText),
                     pseudo: pseudo ? pseudo[1].toLowerCase() : '' };
        }).sort(function (a, b) {
            return order[a.pseudo] - order[b.pseudo];
        });
        var all = root.querySelectorAll('*');
        for (var k = 0, n = all.length; k < n && !this.full; ++k) {
            for (var j = 0; j < taken.length && !this.full; ++j) {
                var t = taken[j], hit = false;
                try {
                    hit = all[k].matches(t.bare);
                } catch (x) {
                }
                if (!hit)
                    continue;
                var via = prefix + 'css' + (t.pseudo ? '::' + t.pseudo + '@' : '@');
                if (t.pseudo)
                    this.blockValue(t.style.getPropertyValue('content'), via + 'content');
                this.blockValue(t.style.getPropertyValue('background-image') || t.style.getPropertyValue('background'),
                                via + 'background');
            }
        }
    };

    Scan.prototype.blockValue = function (value, via) {
        if (value && IMAGE_IN_CSS.test(value))
            this.cssImages(value, via);
    };

    function blockRules(rules, found, depth) {
        for (var i = 0; i < rules.length; ++i) {
            var r = rules[i];
            if (r.type === STYLE_RULE) {
                if (namesImage(r.style))
                    found.push(r);
            } else if (r.cssRules && depth < 8) {
                blockRules(r.cssRules, found, depth + 1);
            }
        }
    }

    // The open shadow root that the parser of a page attaches from <template shadowroot="open">, in
    // a document whose parser did not attach it; its content taken into the document, so that its
    // addresses resolve against the document's base.
    function declaredShadow(host, doc) {
        for (var c = host.firstElementChild; c; c = c.nextElementSibling) {
            if (c.localName === 'template' && c.namespaceURI === HTML_NS && c.hasAttribute('shadowroot'))
                return c.getAttribute('shadowroot').toLowerCase() === 'open' ? doc.importNode(c.content, true) : null;
        }
        return null;
    }

    // The engine's own page for a frame that failed to load holds nothing of the page's.
    function isErrorPage(doc) {
        try {
            return /^chrome-error:/i.test(String(doc.URL)) || /^chrome-error:/i.test(String(doc.location.href));
        } catch (x) {
            return false;
        }
    }

    // Walks the document, then its frames; done gets the whole tree's findings (at once when no
    // frame has to be asked, or when the deadline passes for frames that have not answered, which
    // the findings name). key is the collection's, asked for by every frame's answer.
    Scan.prototype.run = function (deadline, key, done) {
        if (isErrorPage(this.doc)) {
            done(this.merge([]));
            return;
        }
        this.walk(this.doc, '');
        var self = this, frames = this.frames, parts = [], open = 1, ended = false;
        function end() {
            if (ended)
                return;
            ended = true;
            done(self.merge(parts));
        }
        function answered(p) {
            return function (found) {
                p.found = found;
                p.answered = true;
                if (--open === 0)
                    end();
            };
        }
        for (var i = 0; i < frames.length && !this.full; ++i) {
            var f = frames[i], w = null, d = null;
            try {
                w = f.element.contentWindow;
                d = f.element.contentDocument;
            } catch (x) {
            }
            if (!w)
                continue;
            var part = { prefix: f.prefix, address: frameAddress(f.element), remote: !d, found: null, answered: false };
            parts.push(part);
            if (d) {
                // Same origin, a document written by script included: walked from here, with
                // the lines that its own collector holds to its frames.
                var theirs = null;
                try {
                    theirs = w.__nepirikaScan;
                } catch (x) {
                }
                ++open;
                new Scan(d, this.bound, theirs ? theirs.lines : null).run(deadline, key, answered(part));
                continue;
            }
            var line = this.lines ? this.lines.get(w) : undefined;
            if (line === null) {
                part.answered = true; // the engine's error page: nothing of the frame's
            } else if (line) {
                ++open;
                ask(line, key, this.bound, deadline - 50, answered(part));
            }
        }
        if (--open === 0)
            end();
        else
            setTimeout(end, Math.max(0, deadline - Date.now()));
    };

    // The address of a frame element, to name the frame by.
    function frameAddress(e) {
        var a = '';
        try {
            a = text(e.src);
        } catch (x) {
        }
        return a || e.localName;
    }

    // The document's own findings, then each frame's in document order, within the bound; a
    // frame's answer counts only as far as the bound takes it. The frames that gave no answer are
    // named in silent.
    Scan.prototype.merge = function (parts) {
        var out = { links: this.links, images: this.images, embeds: this.embeds, silent: [],
                    facts: this.facts, sets: this.sets, linkFacts: this.linkFacts, alts: this.alts };
        var groups = ['links', 'images', 'embeds'], bound = this.bound;
        for (var i = 0; i < parts.length && !this.full; ++i) {
            var part = parts[i], found = part.found;
            if (!part.answered) {
                out.silent.push(part.address);
                continue;
            }
            if (!found || typeof found !== 'object')
                continue;
            if (Array.isArray(found.silent))
                for (var s = 0; s < found.silent.length && s < 1000; ++s)
                    if (typeof found.silent[s] === 'string')
                        out.silent.push(found.silent[s]);
            var moved = [], movedLinks = [];
            for (var g = 0; g < groups.length && !this.full; ++g) {
                var from = found[groups[g]], to = out[groups[g]];
                if (!Array.isArray(from))
                    continue;
                for (var j = 0; j + STRIDE - 1 < from.length; j += STRIDE) {
                    var url = from[j], via = from[j + 1], charset = from[j + 2], title = from[j + 3];
                    if (typeof url !== 'string' || typeof via !== 'string' || typeof charset !== 'string' ||
                        typeof title !== 'string')
                        continue;
                    // A same-origin frame's findings were taken from the bound as they were made.
                    if (part.remote && !bound.take(url)) {
                        if (this.full)
                            break;
                        continue;
                    }
                    if (to === out.images)
                        moved[j / STRIDE] = to.length / STRIDE;
                    else if (to === out.links)
                        movedLinks[j / STRIDE] = to.length / STRIDE;
                    to.push(url, part.prefix + via, charset, title.slice(0, TITLE_CHARS));
                }
            }
            this.mergeFacts(out, found, moved, movedLinks);
            mergeAlts(out, found, moved);
            if (part.remote) {
                if (found.cut === 'count' || found.cut === 'chars')
                    bound.cut = bound.cut || found.cut;
                if (typeof found.dropped === 'number' && found.dropped > 0)
                    bound.dropped += Math.min(found.dropped, 1e9);
            }
        }
        return out;
    };

    // The bounds of one page's collection: at most count addresses with chars characters of
    // address text in all. Beyond them the collection is cut (cut says by which bound); a data:
    // address longer than DATA_CHARS is left out and counted in dropped.
    var DATA_CHARS = 1 << 20;
    function Bound(count, chars) {
        this.count = Math.max(0, count);
        this.chars = Math.max(0, chars);
        this.cut = '';
        this.dropped = 0;
    }

    // Whether url is taken, within the bounds.
    Bound.prototype.take = function (url) {
        if (this.cut)
            return false;
        if (url.length > DATA_CHARS && /^data:/i.test(url)) {
            ++this.dropped;
            return false;
        }
        if (this.count <= 0 || url.length > this.chars) {
            this.cut = this.count <= 0 ? 'count' : 'chars';
            return false;
        }
        --this.count;
        this.chars -= url.length;
        return true;
    };

    function number(v, otherwise) {
        return typeof v === 'number' && isFinite(v) ? v : otherwise;
    }

    // Asks a cross-origin frame's collector over its line, with a port made for this request: its
    // answer counts only there, and only with the collection's key.
    function ask(line, key, bound, deadline, done) {
        var channel = new MessageChannel(), answered = false;
        channel.port1.onmessage = function (ev) {
            var d = ev.data;
            if (answered || !d || typeof d !== 'object' || d.key !== key)
                return;
            answered = true;
            channel.port1.close();
            done(d);
        };
        try {
            line.postMessage({ key: key, count: bound.count, chars: bound.chars, deadline: deadline },
                             [channel.port2]);
        } catch (x) {
            // Left unanswered: named when the time is up.
        }
    }

    // This frame's line to its parent's collector: made when the document is created, before any of
    // its scripts runs, and handed over with the secret; only requests on it are answered. The
    // engine's error page for a frame that failed to load tells the parent that it has nothing.
    function openLine() {
        if (window.parent === window)
            return;
        var error = isErrorPage(document);
        var channel = error ? null : new MessageChannel();
        if (channel)
            channel.port1.onmessage = onRequest;
        try {
            window.parent.postMessage({ nepirikaHello: SECRET, ready: error ? 0 : 1 }, '*',
                                      channel ? [channel.port2] : []);
        } catch (x) {
        }
    }

    function onRequest(ev) {
        var d = ev.data, port = ev.ports && ev.ports[0];
        if (!port || !d || typeof d !== 'object' || typeof d.key !== 'string')
            return;
        arm();
        var bound = new Bound(number(d.count, 0), number(d.chars, 0));
        new Scan(document, bound, lines).run(number(d.deadline, Date.now()), d.key, function (found) {
            found.key = d.key;
            found.cut = bound.cut;
            found.dropped = bound.dropped;
            try {
                port.postMessage(found);
            } catch (x) {
            }
            port.close();
        });
    }

    // The lines of the frames' collectors. A message that carries the secret is this page's
    // collectors' own: the page's scripts never see it.
    function onHello(ev) {
        var d = ev.data;
        if (!d || typeof d !== 'object' || d.nepirikaHello !== SECRET)
            return;
        ev.stopImmediatePropagation();
        if (!ev.source || ev.source === window)
            return;
        lines.set(ev.source, d.ready === 1 && ev.ports && ev.ports[0] ? ev.ports[0] : null);
    }

    // Listening before any script of the page does. document.open() takes every listener off the
    // window, this one included: it is put back as soon as the document is emptied, and at every
    // collection.
    function arm() {
        window.addEventListener('message', onHello, true);
    }

    // An answer handed over in pieces of about PIECE_CHARS characters of addresses each, so that no
    // copy of the whole answer is ever made. The first piece carries what is known of the page;
    // each piece its addresses, their vias (one character each: an index into the vias that the
    // pieces have named so far), their charsets and their documents' titles (as runs: [count,
    // charset, count, charset…]), the facts and the alternative texts of its images (see Scan.fact
    // and Scan.add; their indexes among the piece's images) and, but for the last, the ticket that
    // the next is asked for with.
    var PIECE_CHARS = 4 << 20;
    var MAX_VIAS = 50000;

    function Handover(found, bound, generation, location, type) {
        this.found = found;
        this.head = { location: location === undefined ? String(document.URL) : location,
                      type: type === undefined ? String(document.contentType || '') : type,
                      generation: generation, cut: bound.cut, dropped: bound.dropped, silent: found.silent || [] };
        this.group = 0;
        this.at = 0;
        this.vias = new Map();
        this.fact = 0;
        this.linkFact = 0;
        this.alt = 0;
    }

    // The sets of the links that wrap an image, as factsOf gives the images' facts: flat pairs.
    Handover.prototype.linkSetsOf = function (index, local, out) {
        var facts = this.found.linkFacts;
        if (!Array.isArray(facts))
            return;
        for (; this.linkFact + 1 < facts.length && facts[this.linkFact] <= index; this.linkFact += 2) {
            if (facts[this.linkFact] === index)
                out.push(local, facts[this.linkFact + 1]);
        }
    };

    // The alternative text of the answer's image index, put in out as (index in the piece, text).
    Handover.prototype.altsOf = function (index, local, out) {
        var alts = this.found.alts;
        if (!Array.isArray(alts))
            return;
        for (; this.alt + 1 < alts.length && alts[this.alt] <= index; this.alt += 2) {
            if (alts[this.alt] === index)
                out.push(local, alts[this.alt + 1]);
        }
    };

    // The facts of the answer's image index, put in out under the image's index in the piece.
    Handover.prototype.factsOf = function (index, local, out) {
        var facts = this.found.facts;
        if (!Array.isArray(facts))
            return;
        for (; this.fact + 4 < facts.length && facts[this.fact] <= index; this.fact += 5) {
            if (facts[this.fact] === index)
                out.push(local, facts[this.fact + 1], facts[this.fact + 2], facts[this.fact + 3], facts[this.fact + 4]);
        }
    };

    Handover.prototype.next = function (ticket) {
        var piece = this.head || {}, names = [], chars = 0, groups = ['links', 'images', 'embeds'];
        var keys = [['links', 'linkVias', 'linkCharsets', 'linkTitles'],
                    ['images', 'imageVias', 'imageCharsets', 'imageTitles'],
                    ['embeds', 'embedVias', 'embedCharsets', 'embedTitles']];
        this.head = null;
        piece.imageFacts = [];
        piece.linkSets = [];
        piece.imageAlts = [];
        for (var g = 0; g < 3; ++g) {
            piece[keys[g][0]] = [];
            piece[keys[g][1]] = '';
            piece[keys[g][2]] = [];
            piece[keys[g][3]] = [];
        }
        while (this.group < 3 && chars < PIECE_CHARS) {
            var list = this.found[groups[this.group]], urls = piece[keys[this.group][0]], codes = [];
            var runs = piece[keys[this.group][2]], titleRuns = piece[keys[this.group][3]];
            for (; this.at + STRIDE - 1 < list.length && chars < PIECE_CHARS; this.at += STRIDE) {
                var via = list[this.at + 1], n = this.vias.get(via);
                if (n === undefined) {
                    n = this.vias.size < MAX_VIAS ? this.vias.size : 0;
                    if (this.vias.size < MAX_VIAS) {
                        this.vias.set(via, n);
                        names.push(via);
                    }
                }
                urls.push(list[this.at]);
                codes.push(0x30 + n);
                if (this.group === 1) {
                    this.factsOf(this.at / STRIDE, urls.length - 1, piece.imageFacts);
                    this.altsOf(this.at / STRIDE, urls.length - 1, piece.imageAlts);
                } else if (this.group === 0) {
                    this.linkSetsOf(this.at / STRIDE, urls.length - 1, piece.linkSets);
                }
                var charset = list[this.at + 2], r = runs.length;
                if (r >= 2 && runs[r - 1] === charset)
                    ++runs[r - 2];
                else
                    runs.push(1, charset);
                var title = list[this.at + 3], t = titleRuns.length;
                if (t >= 2 && titleRuns[t - 1] === title)
                    ++titleRuns[t - 2];
                else
                    titleRuns.push(1, title);
                chars += list[this.at].length + 1;
            }
            var s = '';
            for (var j = 0; j < codes.length; j += 8192)
                s += String.fromCharCode.apply(null, codes.slice(j, j + 8192));
            piece[keys[this.group][1]] = s;
            if (this.at + STRIDE - 1 >= list.length) {
                ++this.group;
                this.at = 0;
            }
        }
        piece.vias = names;
        if (this.group < 3)
            piece.more = ticket;
        return JSON.stringify(piece);
    };

    // Hands over the first piece of an answer; the rest wait under ticket.
    function handOver(ticket, handover) {
        var piece = handover.next(ticket);
        if (handover.group < 3)
            waiting[ticket] = handover;
        return piece;
    }


    // A page's own document that the program fetched itself, read as a browser with scripts off
    // shows it: parsed by the engine's HTML parser without a browsing context (nothing runs and
    // nothing is loaded), its addresses resolved against its base as the page would resolve them.

    // Whether the document declares its encoding in a meta element.
    function declaresCharset(doc) {
        var metas = doc.getElementsByTagName('meta');
        for (var i = 0; i < metas.length; ++i) {
            var m = metas[i];
            if (m.hasAttribute('charset'))
                return true;
            if ((m.getAttribute('http-equiv') || '').trim().toLowerCase() === 'content-type' &&
                /charset/i.test(m.getAttribute('content') || ''))
                return true;
        }
        return false;
    }

    // Gives the document the base that it has at its own address: its first <base href> resolved
    // against that address (which is what the page's base would be), or the address itself.
    function settleBase(doc, address) {
        var own = doc.querySelector('base[href]');
        var ours = doc.createElementNS(HTML_NS, 'base');
        ours.setAttribute('href', address);
        var head = doc.head || doc.documentElement;
        if (!head)
            return false;
        head.insertBefore(ours, head.firstChild);
        if (!own)
            return true;
        var a = doc.createElementNS(HTML_NS, 'a');
        a.setAttribute('href', own.getAttribute('href'));
        var resolved = a.href;
        head.removeChild(ours);
        // A base that does not parse, or one to data: or javascript:, leaves the page's address.
        if (!SCHEME.test(resolved) || /^(data|javascript):/i.test(resolved))
            resolved = address;
        own.setAttribute('href', resolved);
        return true;
    }

    // The addresses of a parsed document and of the srcdoc frames in it (the only frames that a
    // browser without scripts or subresources shows), within bound.
    function readTree(doc, bound) {
        var scan = new Scan(doc, bound, null);
        scan.inert = true;
        scan.walk(doc, '');
        var parts = [];
        for (var i = 0; i < scan.frames.length && !scan.full; ++i) {
            var e = scan.frames[i].element;
            if (e.localName !== 'iframe' || !e.hasAttribute('srcdoc'))
                continue;
            var inner = new DOMParser().parseFromString(e.getAttribute('srcdoc'), 'text/html');
            if (!settleBase(inner, doc.baseURI))
                continue;
            parts.push({ prefix: scan.frames[i].prefix, found: readTree(inner, bound), answered: true });
        }
        return scan.merge(parts);
    }

    // Parses the document at url (the program's hand-over address); done gets it, or null.
    function parseHandedOver(url, mime, done) {
        var x = new XMLHttpRequest();
        x.open('GET', url);
        if (mime)
            x.overrideMimeType(mime);
        x.responseType = 'document';
        x.onload = function () {
            done(x.status === 200 ? x.response : null);
        };
        x.onerror = x.onabort = function () {
            done(null);
        };
        x.send();
    }

    window.__nepirikaScan = {
        lines: lines,
        // Starts a collection of this frame's tree with the collection's own key, within count
        // addresses and chars characters: the first piece of its answer, or a ticket for take().
        start: function (key, count, chars, budgetMs) {
            arm();
            var generation = (typeof window.__nepirikaGeneration === 'number') ? window.__nepirikaGeneration : -1;
            var ticket = 't' + (++tickets), box = { handover: null }, bound = new Bound(count, chars);
            waiting[ticket] = box;
            new Scan(document, bound, lines).run(Date.now() + budgetMs, key, function (found) {
                box.handover = new Handover(found, bound, generation);
            });
            if (box.handover === null)
                return ticket;
            delete waiting[ticket];
            return handOver(ticket, box.handover);
        },
        // Reads a handed-over document (see above) under ticket. o: url (the hand-over address),
        // address (the page's own), declared (its response named its encoding, or it starts with a
        // byte order mark), ascii (all its bytes are ASCII), utf8 (its bytes are valid UTF-8), count
        // and chars (the bounds), generation. The end sets the document's title to "read " + ticket;
        // take(ticket) then gives the answer's first piece, or '!' when the document must be read
        // by loading it instead.
        read: function (ticket, o) {
            var box = { handover: null, refused: false };
            waiting[ticket] = box;
            function end(handover) {
                box.handover = handover;
                box.refused = !handover;
                document.title = 'read ' + ticket;
            }
            function walk(doc) {
                if (!doc || !settleBase(doc, o.address))
                    return end(null);
                var bound = new Bound(o.count, o.chars);
                end(new Handover(readTree(doc, bound), bound, o.generation, o.address, 'text/html'));
            }
            parseHandedOver(o.url, '', function (doc) {
                if (!doc || o.declared || declaresCharset(doc))
                    return walk(doc);
                // Nothing names the encoding: a browser takes valid UTF-8 as UTF-8 and plain ASCII in
                // its default encoding; for anything else its guess is not to be foretold here.
                if (o.ascii)
                    return parseHandedOver(o.url + '?again', 'text/html; charset=windows-1252', walk);
                walk(o.utf8 ? doc : null);
            });
        },
        // The next piece of an answer: '' while frames are still answering (or the document is
        // being read), '-' for a ticket that is not known, '!' for a document to be loaded instead.
        take: function (ticket) {
            var box = waiting[ticket];
            if (!box)
                return '-';
            if (box instanceof Handover) {
                delete waiting[ticket];
                return handOver(ticket, box);
            }
            if (box.refused) {
                delete waiting[ticket];
                return '!';
            }
            if (box.handover === null)
                return '';
            delete waiting[ticket];
            return handOver(ticket, box.handover);
        },
        // Forgets an answer that is no longer awaited.
        drop: function (ticket) {
            delete waiting[ticket];
        }
    };

    arm();
    new MutationObserver(arm).observe(document, { childList: true });
    openLine();
})();
