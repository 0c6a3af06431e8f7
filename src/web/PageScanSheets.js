// Piece 3 of the collector script: the images that style sheets put behind elements and into their
// ::before and ::after (a shown page's computed style, a parsed document's <style> blocks), and the
// declared shadow roots of a parsed document.

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
